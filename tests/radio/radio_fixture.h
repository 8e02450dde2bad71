#pragma once
// A radio controller on the simulated board in virtual time: an RTP
// session to attach to, the controller's header-extension session in the
// model, and a probe as its slot that PER-encodes every report.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "board/sim/sim_board.h"
#include "radio/radio_control.h"
#include "radio/sig_proto.h"
#include "tests/support/bytes.h"
#include "tests/support/radio_probe.h"
#include "tests/support/rtp_ext_session.h"
#include "tests/support/stream_capture.h"
#include "tests/support/value_notation.h"
#include "tests/support/virtual_loop.h"

namespace radio_test {

using board::sim::Board;
using board::sim::Op;
using Session = board::sim::RtpExtModel::Session;
using test::Bytes;

using test::text_of;
using test::value_of;

// A VARK packet as bytes; `fill` sets what the type needs.
template <class Fill>
Bytes vark_packet(uint32_t type, Fill fill) {
    sig_proto record;
    sig_proto_init(&record);
    record.type = type;
    fill(record);
    unsigned char bytes[1024];
    const int length = sig_proto_pack(&record, bytes, sizeof bytes);
    EXPECT_GT(length, 0);
    return Bytes(bytes, bytes + (length > 0 ? length : 0));
}

// A packet of a type without a body.
inline Bytes vark_header(uint32_t type, uint32_t priority = 15, uint32_t ptt = 0) {
    return vark_packet(type, [&](sig_proto& r) {
        r.priority = priority;
        r.flag_p = ptt;
    });
}

// A VARK radio status; `flags` is the value notation of its RadioFlags.
inline TERM::RadioStatus vark_status(const std::string& flags =
                                         "{ prio 15, ptt FALSE, bss FALSE, "
                                         "vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, "
                                         "pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0 }") {
    return value_of<TERM::RadioStatus>(
        "vark : { flags " + flags +
        ", freq { channel 1, frequency \"121.500000\" }, remote { no 1, ch 2 }, squelshe on, "
        "rte a1b, standby-state-channel active, standby-group 3, standby-state-receiver standby }");
}

class RadioFixture : public ::testing::Test {
protected:
    RadioFixture() {
        Board::instance().reset();
        rtp = test::open_rtp_session();
    }
    ~RadioFixture() override { EXPECT_EQ(0u, probe.unencodable) << "reports lost on the link"; }

    // A controller with a session of its own attached to `rtp` (type 0).
    template <class Control>
    std::unique_ptr<Control> make(uint16_t etype, int32_t word3 = 0, int32_t word4 = 0) {
        const RTPSignalling::rtp_ext_attach_session_params attach{rtp.get(), -1};
        const RTPSignalling::rtp_ext_init_params init{etype, 0, {1, 123, word3, word4}};
        auto control = std::make_unique<Control>(5, attach, init);
        control->SetNotify(&probe);
        return control;
    }

    static Session& session(const RTPSignalling::RadioControl& control) {
        Session* s = test::rtp_ext().session(control.ext_fd());
        if (s == nullptr) throw std::runtime_error("the controller has no session");
        return *s;
    }

    // The network sends `packets` from one source; the loop serves them.
    void receive(const RTPSignalling::RadioControl& control, const std::vector<Bytes>& packets,
                 const char* source = "127.0.0.2", uint32_t ssrc = 9) {
        for (const Bytes& packet : packets) session(control).inject(packet, test::ip(source), ssrc);
        loop.pump();
    }

    // The extensions written since the last call, as hex text.
    std::vector<std::string> written(const RTPSignalling::RadioControl& control) {
        std::vector<std::string> out;
        auto& sent = session(control).sent;
        for (const auto& bytes : sent) out.push_back(test::hex_text(bytes));
        sent.clear();
        return out;
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    Fd rtp;
    test::RadioProbe probe;
};

}  // namespace radio_test
