#pragma once
// A LAPD capture for tshark: the frames one end of an `HdlcPair` sends
// (packet type 4) and receives (0), seen from the user or the network side,
// stamped with the loop's (virtual) time.
//
//   test::PcapWriter pcap(test::PcapWriter::linux_lapd);
//   test::LapdCapture capture(pcap, line.a, /*networkSide=*/false);
//   ... traffic ...
//   auto packets = test::tshark_fields(pcap, {}, {"lapd.control.n_s"}, &error);

#include "tests/support/line_capture.h"

namespace test {

// One LAPD frame as the user or the network side sent or received it,
// stamped with the loop's time.
void add_lapd_frame(PcapWriter& file, const unsigned char* frame, size_t length, bool sent,
                    bool networkSide);

class LapdCapture : public LineCapture {
public:
    LapdCapture(PcapWriter& file, HdlcEnd& end, bool networkSide);
};

}  // namespace test
