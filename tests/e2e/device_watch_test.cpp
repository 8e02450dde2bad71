// The owners of device descriptors, short of descriptors after the device's
// open, so that the loop's watch of it (a duplicate) finds none left: each
// takes the path of a device that did not open, with one line, and keeps
// nothing open. On the simulated board an open takes two descriptors (a
// socket pair whose other end the board keeps).

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "board/sim/sim_board.h"
#include "hardware/e1_ctl.h"
#include "hardware/tonec_receiver.h"
#include "radio/radio_control.h"
#include "runtime/child_wait.h"
#include "runtime/mux_time.h"
#include "signalling/hdlc.h"
#include "signalling/isdn_factory.h"
#include "slots/mcc_factory.h"
#include "slots/rtp_factory.h"
#include "tests/support/board_root.h"
#include "tests/support/descriptor_shortage.h"
#include "tests/support/descriptors.h"
#include "tests/support/forked_child.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/signalling_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/stream_capture.h"
#include "tests/support/udp_peer.h"
#include "tests/support/virtual_loop.h"

namespace {

using board::rtp_ext::rtp_ext_init_params;
using LGCP::IsdnType;
using LGCP::MccMode;
using LGCP::MccType;
using RTPSignalling::RadioControl;

// Whether the factory made the slot (deleted again).
bool made(SlotFactory& factory, const LGCP::Command& create) {
    return bool(std::unique_ptr<Slot>(factory.INewSlot(*create.get_create())));
}

struct Owner {
    const char* name;
    unsigned spare;                 // the descriptors it takes before the watch
    std::function<bool()> attempt;  // whether it took the device up
    // What only its failure runs, with descriptors to spare first.
    std::function<void()> rehearseFailure = nullptr;
};

TEST(DeviceWatch, AnOwnerThatCannotWatchItsDeviceTakesItsFailedOpensPath) {
    test::BoardRoot root;
    test::VirtualLoop loop;
    test::HardwareReset hardware;
    test::StreamCapture errors{std::cerr}, progress{std::clog};
    const unsigned short local = test::free_udp_pair();
    const Owner owners[] = {
        {"hdlc channel", 2, [] { return HDLC().activate(); }},
        {"isdn slot", 2,
         [] { return made(IsdnFactory::instance(), test::create_isdn(IsdnType::pri, 1, {})); }},
        {"mcc slot", 2,
         [] {
             return made(MccFactory::instance(),
                         test::create_mcc(MccType::data, MccMode::standard));
         }},
        // The RTCP socket, the open, the model's socket, the slot's copy.
        {"rtp slot", 5,
         [&] { return made(RtpFactory::instance(), test::rtp_create_command(9, local, 1)); }},
        {"tone receivers", 2, [] { return Hardware::TonecReceiverService::instance().fd() >= 0; }},
        {"cas device", 2, [] { return E1Ctl::instance().CheckOpenCas(); }},
        {"radio session", 2, [] { return RadioControl(rtp_ext_init_params{}).ext_fd() >= 0; },
         [] {  // a session refused is asked for again on a timer
             board::sim::Board::instance().fail_next(board::sim::Op::Ioctl, board::rtp_ext::kDevice,
                                                     EIO, board::rtp_ext::kInit);
             RadioControl{rtp_ext_init_params{}};
         }},
        {"child reaping", 2, [] { return ChildWait::Activate(); }},
    };
    for (const Owner& owner : owners) {
        SCOPED_TRACE(owner.name);
        // The services let go of what they took up.
        const auto attempt = [&] {
            const bool up = owner.attempt();
            Hardware::TonecReceiverService::reset_for_test();
            E1Ctl::instance().reset_for_test();
            ChildWait::Deactivate();
            board::sim::Board::instance().drop_closed();
            return std::to_string(up);
        };
        EXPECT_EQ(
            "11 0, 1 line: watch fail: Too many open files\n", test::in_forked_child([&] {
                // With descriptors to spare first (tests/support/descriptor_shortage.h),
                // twice: a second attempt deletes the callback of the first.
                if (owner.rehearseFailure) owner.rehearseFailure();
                const std::string rehearsed = attempt() + attempt();
                Mux::milliseconds();  // as a throttled line of the failure does
                const auto open = test::channels_of(::getpid());
                errors.clear();
                test::DescriptorShortage shortage(owner.spare);
                const std::string taken = attempt();
                shortage.end();
                const std::string said = errors.str();
                return rehearsed + " " + taken + ", " +
                       std::to_string(std::count(said.begin(), said.end(), '\n')) +
                       " line: " + said.substr(std::min(said.find("watch fail: "), said.size())) +
                       (test::channels_of(::getpid()) == open ? "" : "left open");
            }));
    }
}

}  // namespace
