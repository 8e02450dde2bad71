#pragma once
// Records the frames one end of an `HdlcPair` sends and receives into a
// pcap file, stamped with the loop's (virtual) time. A record maker turns
// each frame into the file's record (with the pseudo-header its link type
// wants) or leaves it out.
//
//   test::PcapWriter pcap(test::PcapWriter::mtp2);
//   test::LineCapture capture(pcap, line.a, test::LineCapture::sent_as_is);

#include <functional>

#include "link/packet.h"
#include "tests/support/pcap_writer.h"

namespace test {

class HdlcEnd;

// Adds one record stamped with the loop's time.
void add_at_loop_time(PcapWriter& file, const Bytes& record);

class LineCapture {
public:
    // Fills `record` for a frame sent (or received) at the end; false leaves
    // the frame out.
    using RecordMaker = std::function<bool(const Packet& frame, bool sent, Bytes& record)>;

    // The frames sent, each as it is: two captures of this kind, one on
    // each end, record the whole line in order.
    static bool sent_as_is(const Packet& frame, bool sent, Bytes& record);

    LineCapture(PcapWriter& file, HdlcEnd& end, RecordMaker maker);
    ~LineCapture();
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

private:
    void record(const Packet& frame, bool sent);

    PcapWriter& file_;
    HdlcEnd& end_;
    RecordMaker maker_;
    int tap_;
};

}  // namespace test
