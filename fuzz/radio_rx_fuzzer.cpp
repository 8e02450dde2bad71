// Bursts of arbitrary header extensions from a few sources, received by a
// VARK and an ED-137 gateway controller on the simulated header-extension
// device, between host commands that key and unkey the radios and steps of
// virtual time. Every report a controller makes must encode as the
// `rtpExt` signal its slot sends, and both keep their sessions.
//
// Input: operations, each an octet and its arguments.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "radio/ed137_radio_control.h"
#include "radio/vark_radio_control.h"
#include "tests/support/radio_probe.h"
#include "tests/support/rtp_ext_session.h"
#include "tests/support/virtual_loop.h"

namespace {

using namespace RTPSignalling;

template <class T>
T value_of(const char* text) {
    T value;
    std::istringstream in(text);
    in >> value;
    if (in.fail()) std::abort();
    return value;
}

const char* const kFlags[] = {
    "{ prio 5, ptt FALSE, bss TRUE, vad-rx FALSE, vad-tx TRUE, sql TRUE, sh FALSE, pwr TRUE, "
    "rv FALSE, resv TRUE, selcall 1, li 17 }",
    "{ prio 5, ptt TRUE, bss FALSE, vad-rx TRUE, vad-tx FALSE, sql FALSE, sh TRUE, pwr FALSE, "
    "rv TRUE, resv FALSE, selcall 3, li 511 }",
};

// What the host may tell the radios: their status, keyed or not, and the
// session that keys them.
void host_command(VarkRadioGWControl& vark, ED137RadioGWControl& ed137, unsigned which) {
    const std::string flags = kFlags[which & 1];
    switch (which % 4) {
        case 0:
        case 1:
            vark.SendASNToChan(value_of<TERM::RadioStatus>(
                ("vark : { flags " + flags +
                 ", freq { channel 1, frequency \"121.5\" }, remote { no 1, ch 2 }, "
                 "squelshe on, rte a1b, standby-state-channel active, standby-group 3, "
                 "standby-state-receiver standby }")
                    .c_str()));
            break;
        case 2:
        case 3:
            vark.SendASNToChan(value_of<TERM::RadioModifier>(
                ("vark : { addr { session-addr \"127.0.0.2\", session-ssrc 1 }, params "
                 "wm-trans : { flags " +
                 flags + ", ip \"127.0.0.3\", ssrc 7 } }")
                    .c_str()));
            break;
    }
    ed137.SendASNToChan(value_of<TERM::RadioModifier>(
        which & 1 ? "ed-137 : { addr { session-addr \"127.0.0.2\", session-ssrc 1 }, params "
                    "rx : { header { ptt normal-ptt-on, squ squ-on, ptt-id 9, ptt-mute FALSE, "
                    "ptt-summation TRUE, sct FALSE }, sqi { bss-method agc, bss-quality 31 } } }"
                  : "ed-137 : { addr { session-addr \"127.0.0.4\", session-ssrc 1 }, params "
                    "tx : { header { ptt ptt-off, squ squ-off, ptt-id 0, ptt-mute FALSE, "
                    "ptt-summation FALSE, sct TRUE } } }"));
}

void run(FuzzedDataProvider& in) {
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    board::sim::Board::instance().reset();
    const Fd rtp = test::open_rtp_session();
    const rtp_ext_attach_session_params attach{rtp.get(), -1};
    VarkRadioGWControl vark(1, attach, {board::rtp_ext::kVarkProfile, 0, {0, 0, 0, 0}});
    ED137RadioGWControl ed137(2, attach, {board::rtp_ext::kEd137Profile, 0, {1, 123, 10, 1}});
    test::RadioProbe probe;
    for (RadioControl* control :
         {static_cast<RadioControl*>(&vark), static_cast<RadioControl*>(&ed137)}) {
        control->SetNotify(&probe);
        control->SetTimerEnable(true);
    }
    host_command(vark, ed137, 0);
    auto* varkSession = test::rtp_ext().session(vark.ext_fd());
    auto* ed137Session = test::rtp_ext().session(ed137.ext_fd());
    if (!varkSession || !ed137Session) std::abort();

    while (in.remaining_bytes()) {
        const unsigned op = in.ConsumeIntegral<uint8_t>();
        switch (op % 4) {
            case 0: {  // one extension from one of four sources
                auto* session = op & 4 ? ed137Session : varkSession;
                static const char* const sources[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4",
                                                      "127.0.0.5"};
                const std::string bytes = in.ConsumeRandomLengthString(40);
                session->inject(test::Bytes(bytes.begin(), bytes.end()),
                                test::ip(sources[(op >> 3) & 3]), (op >> 5) & 1);
                break;
            }
            case 1:
                loop.pump();
                break;
            case 2:
                loop.advance(in.ConsumeIntegralInRange<unsigned>(0, 2500));
                break;
            case 3:
                if (op & 4) {
                    varkSession->enforce_filter = !varkSession->enforce_filter;
                    ed137Session->enforce_filter = !ed137Session->enforce_filter;
                } else {
                    host_command(vark, ed137, op >> 3);
                }
                break;
        }
        if (probe.unencodable) {
            std::fprintf(stderr, "a report does not encode as a signal\n");
            std::abort();
        }
        // Nothing the network sends ends a session (an empty extension
        // neither: a read of 0 ends the burst).
        if (vark.ext_fd() < 0 || ed137.ext_fd() < 0) {
            std::fprintf(stderr, "a radio lost its session\n");
            std::abort();
        }
        probe.clear();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    run(in);
    return 0;
}
