#include "tests/support/line_capture.h"

#include "runtime/mux_time.h"
#include "tests/support/hdlc_pair.h"

namespace test {

void add_at_loop_time(PcapWriter& file, const Bytes& record) {
    Mux::timeval now;
    Mux::gettimeval(now);
    file.add_record(static_cast<uint32_t>(now.tv_sec), static_cast<uint32_t>(now.tv_usec), record);
}

bool LineCapture::sent_as_is(const Packet& frame, bool sent, Bytes& record) {
    record.assign(frame.data(), frame.data() + frame.length());
    return sent;
}

LineCapture::LineCapture(PcapWriter& file, HdlcEnd& end, RecordMaker maker)
    : file_(file),
      end_(end),
      maker_(std::move(maker)),
      tap_(end_.add_tap([this](const Packet& frame, bool sent) { record(frame, sent); })) {}

LineCapture::~LineCapture() { end_.remove_tap(tap_); }

void LineCapture::record(const Packet& frame, bool sent) {
    Bytes record;
    if (maker_(frame, sent, record)) add_at_loop_time(file_, record);
}

}  // namespace test
