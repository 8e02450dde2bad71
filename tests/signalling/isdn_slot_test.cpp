// ISDN and QSIG slots and QSIG B channels on the simulated board: what they
// ask of their devices, what they refuse, and how they take a failing
// device.
#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/signalling/signalling_slot_fixture.h"
#include "tests/support/throttled_lines.h"

namespace {

using Lines = std::vector<std::string>;
using LGCP::IsdnType;
using board::sim::Op;
using test::Side;
namespace dsp_data = board::dsp_data;
namespace mcc = board::mcc;

constexpr auto npos = std::string::npos;

class IsdnSlots : public test::SignallingSlotTest {
protected:
    // The B-channel requests made on the QSIG device: "add 1", "remove 1".
    static Lines b_requests() {
        Lines out;
        for (const auto& call : sim().journal(dsp_data::kDevice)) {
            if (call.op != Op::Ioctl || call.data.size() < 4) continue;
            int32_t index;
            std::memcpy(&index, call.data.data(), sizeof index);
            if (call.request == dsp_data::kAddBChannel) out.push_back("add " + std::to_string(index));
            if (call.request == dsp_data::kRemoveBChannel)
                out.push_back("remove " + std::to_string(index));
        }
        return out;
    }
    static unsigned reads(const std::string& device) {
        unsigned n = 0;
        for (const auto& call : sim().journal(device)) n += call.op == Op::Read;
        return n;
    }
};

// Their own channel, allocated at creation: data for PRI, BRI for BRI.
TEST_F(IsdnSlots, AllocateTheirChannelAtCreation) {
    make(test::create_isdn(IsdnType::pri, 1, Side::user), 30);
    make(test::create_isdn(IsdnType::bri, 1, Side::network), 31);
    const auto allocations = mcc().allocations();
    ASSERT_EQ(2u, allocations.size());
    for (size_t i = 0; i < 2; ++i) {
        const mcc::mcc_allocation& r = allocations[i].record;
        EXPECT_EQ((std::vector<uint32_t>{i == 0 ? mcc::kData : mcc::kBri, 512, 0, 1, 1}),
                  (std::vector<uint32_t>{r.type, r.rx_packet_size, r.reserved, r.rx_threshold,
                                         r.tx_threshold}));
        EXPECT_EQ(allocations[i].timeslot, Slots::instance()->at(30 + unsigned(i))->IGetTransmitChannel());
    }
}

// Subslot 2 is B channel 1; a trunk slot wired to it is switched to the B
// channel's own TDM number. The removed B channel leaves the switch with
// its paths, also those whose release the driver refused.
TEST_F(IsdnSlots, AQsigBChannelIsItsOwnTdmEndpoint) {
    make(test::create_qsig(Side::user), 30);
    make(test::create_qsig_b(30, 2), 31);
    const int b = qsig().opens().at(0).b[1];
    EXPECT_EQ(qsig().opens().at(0).signalling + 1, b);
    make(test::create_trunk(1, 5), 12);
    wire(12, 31);
    EXPECT_EQ(37, fabric().origin(b));
    EXPECT_EQ(b, fabric().origin(37));

    sim().fail_next(Op::Ioctl, board::hal::kDevice, EIO, board::hal::kMuxWriteByte, 2);
    destroy(31);
    EXPECT_EQ((Lines{"add 1", "remove 1"}), b_requests());
    EXPECT_EQ(-1, qsig().opens().at(0).b[1]);
    EXPECT_EQ(-1, fabric().origin(b));
    expect_sound();
}

// The driver refuses to remove B channel 1 at its slot's destroy, and for
// three seconds after, the removal tried every second: a create of the
// subslot meanwhile is refused, the driver still holding the channel. Once
// the driver takes the removal, by the retry or at the next create, that
// create is served the channel. A QSIG slot that goes owes nothing more:
// the driver frees its B channels with the device.
TEST_F(IsdnSlots, ABChannelRemovalTheDriverRefusedIsDoneBeforeTheSubslotIsCreatedAgain) {
    struct Case {
        const char* name;
        unsigned waitMs;  // after the refusals, before the create
        Lines requests;   // from the end of the refusals to the create
        bool qsigGoes;
    };
    const Case cases[] = {
        {"tried again every second", 1000, {"remove 1", "add 1"}, false},
        {"done by the next create", 0, {"remove 1", "add 1"}, false},
        {"the QSIG slot goes", 3000, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make(test::create_qsig(Side::user), 30);
        make(test::create_qsig_b(30, 2), 31);
        const int b = Slots::instance()->at(31)->IGetTransmitChannel();
        sim().refuse = [](Op, const std::string&, uint32_t request, const void*) {
            return request == dsp_data::kRemoveBChannel ? EIO : 0;
        };
        destroy(31);
        sim().clear_journal();
        run(3000);
        EXPECT_EQ((Lines{"remove 1", "remove 1", "remove 1"}), b_requests());
        EXPECT_EQ(Lines{"32 insufficientResources"}, told(test::create_qsig_b(30, 2), 32));
        EXPECT_EQ(b, qsig().opens().at(0).b[1]);
        if (c.qsigGoes) destroy(30);
        sim().refuse = nullptr;
        sim().clear_journal();
        run(c.waitMs);
        if (c.qsigGoes) {
            EXPECT_EQ(c.requests, b_requests());
            make(test::create_qsig(Side::user), 30);
        }
        make(test::create_qsig_b(30, 2), 32);
        if (!c.qsigGoes) {
            EXPECT_EQ(c.requests, b_requests());
        }
        ASSERT_NE(nullptr, Slots::instance()->at(32));
        EXPECT_EQ(b, Slots::instance()->at(32)->IGetTransmitChannel());
        EXPECT_EQ(b, qsig().opens().at(0).b[1]);
        for (unsigned slot : {32u, 30u}) destroy(slot);
        run(1000);
    }
}

// Destroyed while the driver refuses every silence, an ISDN slot, a QSIG
// slot and a B channel give their channel back switched off: nothing of the
// trunk they were wired with flows into it for the next call.
TEST_F(IsdnSlots, GiveTheirChannelBackSwitchedOffWhileSilencesAreRefused) {
    const std::pair<const char*, std::vector<LGCP::Command>> cases[] = {
        {"isdn", {test::create_isdn(IsdnType::pri, 1, Side::user)}},
        {"qsig", {test::create_qsig(Side::user)}},
        {"qsig b channel", {test::create_qsig(Side::user), test::create_qsig_b(30, 2)}},
    };
    for (const auto& [what, creates] : cases) {
        SCOPED_TRACE(what);
        unsigned slot = 30;
        for (const LGCP::Command& create : creates) make(create, slot++);
        const unsigned last = slot - 1;
        const int channel = Slots::instance()->at(last)->IGetReceiveChannel();
        make(test::create_trunk(1, 5), 12);
        wire(12, last);
        ASSERT_EQ(37, fabric().origin(channel));
        sim().refuse = [](Op, const std::string&, uint32_t request, const void*) {
            return request == board::hal::kMuxWriteByte ? EIO : 0;
        };
        destroy(last);
        EXPECT_EQ(board::sim::HalModel::Output::Off, fabric().channel(channel).output);
        sim().refuse = nullptr;
        for (unsigned s : {30u, 12u})
            if (Slots::instance()->at(s)) destroy(s);
        run(1);
        expect_sound();
    }
}

// The B slot reaches only the QSIG slot that made it: a new slot under the
// same number is left alone.
TEST_F(IsdnSlots, ABChannelWhoseQsigSlotIsGoneRemovesNothing) {
    make(test::create_qsig(Side::user), 30);
    make(test::create_qsig_b(30, 1), 31);
    destroy(30);
    make(test::create_qsig(Side::network), 30);
    sim().clear_journal();
    destroy(31);
    EXPECT_EQ(Lines{}, b_requests());
    EXPECT_NE(npos, progress.str().find("31:ATS-QSIG-B: Can't find signalling slot"));
}

// The driver frees the B channels with the QSIG device, whether the slot is
// destroyed or its device ends: the next QSIG slot's B channel gets the same
// number, and the old B slot's destroy leaves its path alone.
TEST_F(IsdnSlots, ABChannelWhoseQsigDeviceWentLeavesItsNumberToTheNext) {
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"destroyed", [this] { destroy(30); }},
        {"hung up", [this] {
             sim().channels(dsp_data::kDevice).at(0)->hang_up();
             run(1);
         }},
    };
    for (const auto& [way, lose] : ways) {
        SCOPED_TRACE(way);
        make(test::create_qsig(Side::user), 30);
        make(test::create_qsig_b(30, 2), 31);
        make(test::create_trunk(1, 5), 12);
        wire(12, 31);
        const int b = Slots::instance()->at(31)->IGetTransmitChannel();
        lose();
        EXPECT_EQ(-1, Slots::instance()->at(31)->IGetTransmitChannel());

        make(test::create_qsig(Side::user), 32);
        make(test::create_qsig_b(32, 2), 33);
        ASSERT_EQ(b, Slots::instance()->at(33)->IGetTransmitChannel());
        make(test::create_trunk(1, 6), 13);
        wire(13, 33);
        destroy(31);
        destroy(12);
        if (Slots::instance()->at(30)) destroy(30);
        EXPECT_EQ(38, fabric().origin(b));
        EXPECT_EQ(b, fabric().origin(38));
        for (unsigned slot : {33u, 32u, 13u}) destroy(slot);
    }
    EXPECT_EQ(npos, errors.str().find("refused"));
}

TEST_F(IsdnSlots, DeclineWhatTheyCannotMake) {
    make(test::create_qsig(Side::user), 30);
    make(test::create_isdn(IsdnType::pri, 1, Side::user), 33);
    const size_t qsigOpens = qsig().opens().size();
    const size_t mccOpens = mcc().opens();
    struct Case {
        const char* name;
        LGCP::Command command;
        std::function<void()> setUp;
    };
    const Case cases[] = {
        {"an ISDN slot's B channel", test::create_qsig_b(33, 1), [] {}},
        {"no such slot", test::create_qsig_b(40, 1), [] {}},
        {"B channel refused", test::create_qsig_b(30, 1),
         [] { sim().fail_next(Op::Ioctl, dsp_data::kDevice, EIO, dsp_data::kAddBChannel); }},
        {"MCC open", test::create_isdn(IsdnType::pri, 1, Side::user),
         [] { sim().fail_next(Op::Open, mcc::kDevice, ENODEV); }},
        {"MCC allocation", test::create_isdn(IsdnType::bri, 1, Side::user),
         [] { mcc().pool_size[mcc::kBri] = 0; }},
        {"MCC timeslot", test::create_isdn(IsdnType::pri, 1, Side::user),
         [] { sim().fail_next(Op::Ioctl, mcc::kDevice, EIO, mcc::MCC_TIMESLOT); }},
        {"QSIG open", test::create_qsig(Side::user),
         [] { sim().fail_next(Op::Open, dsp_data::kDevice, ENODEV); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        EXPECT_EQ(Lines{"41 insufficientResources"}, told(c.command, 41));
        EXPECT_EQ(qsigOpens, qsig().opens().size());
        EXPECT_EQ(mccOpens, mcc().opens());
    }
    EXPECT_EQ(Lines{"30 unsupported"}, told(test::ss7_bsn_request(), 30));

    // The encoder keeps a subslot within 1..3, the decoder does not.
    for (int subslot : {0, 4}) {
        SCOPED_TRACE(subslot);
        LGCP::Command command = test::create_qsig_b(30, 1);
        command.get_create()->get_ats_qsig_b()->set_subslot(subslot);
        sim().clear_journal();
        EXPECT_EQ(nullptr, IsdnFactory::instance().INewSlot(*command.get_create()));
        EXPECT_EQ(Lines{}, b_requests());
    }
}

// A read of 0 ends the burst, not the device: the network's UA after it
// establishes the link.
TEST_F(IsdnSlots, AReadOf0EndsTheBurstNotTheDevice) {
    struct Case {
        const char* name;
        LGCP::Command create;
        const char* device;
    };
    const Case cases[] = {
        {"ISDN", test::create_isdn(IsdnType::pri, 1, Side::user), mcc::kDevice},
        {"QSIG", test::create_qsig(Side::user), dsp_data::kDevice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        make(c.create, 50);
        succeed(test::activate(), 50);  // SABME
        sim().model(c.device)->drained_reads_zero = true;
        board::sim::Channel* channel = sim().channels(c.device).at(0);
        const char ua[] = {0x00, 0x01, 0x73};
        channel->deliver(ua, 0);
        channel->deliver(ua, sizeof ua);
        EXPECT_EQ(2u, server.loop().ready_passes(50));
        run(100);
        EXPECT_EQ("", errors.str());
        EXPECT_EQ((Lines{"50 isdnLinkInfo multiple-frame-established", "50 activated"}),
                  signalled());
        destroy(50);
    }
}

// A hung-up or failing device is read once and closed, which frees its
// channel: the slot switches it off and forgets it at once, says
// `deactivated` once unless its link had nothing to say, and refuses user
// data. The link then fails by its own timers. The device opens at
// creation only: an activation is refused too, and nothing follows it.
TEST_F(IsdnSlots, AFailingDeviceIsReadOnceAndTheLinkGivesUp) {
    struct Case {
        const char* name;
        LGCP::Command create;
        const char* device;
        bool hangUp;  // else every read fails with EIO
        const char* logged;
        bool activated;  // else the link has nothing to say
    };
    const Case cases[] = {
        {"ISDN hang-up", test::create_isdn(IsdnType::pri, 1, Side::user), mcc::kDevice, true,
         "50:MCC: read error: hung up", true},
        {"ISDN EIO", test::create_isdn(IsdnType::pri, 1, Side::user), mcc::kDevice, false,
         "50:MCC: read error: Input/output error", true},
        {"QSIG hang-up", test::create_qsig(Side::user), dsp_data::kDevice, true,
         "50:ATS-QSIG: read error: hung up", true},
        {"QSIG EIO, not activated", test::create_qsig(Side::user), dsp_data::kDevice, false,
         "50:ATS-QSIG: read error: Input/output error", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        make(c.create, 50);
        if (c.activated) succeed(test::activate(), 50);  // SABME after SABME, unanswered
        const int channelHeld = Slots::instance()->at(50)->IGetTransmitChannel();
        board::sim::Channel* channel = sim().channels(c.device).at(0);
        if (c.hangUp) {
            channel->hang_up();
        } else {
            sim().fail_next(Op::Read, c.device, EIO, 0, 1000);
            const char frame[] = {0x02, 0x01, 0x01};
            channel->deliver(frame, sizeof frame);
        }
        sim().clear_journal();
        run(1);
        EXPECT_EQ(c.activated ? Lines{"50 deactivated"} : Lines{}, signalled("deactivated"));
        EXPECT_EQ(1u, disables_on_switch(channelHeld));
        EXPECT_EQ(-1, Slots::instance()->at(50)->IGetTransmitChannel());
        run(5000);
        EXPECT_EQ(Lines{}, signalled("deactivated"));
        EXPECT_EQ(1u, reads(c.device));
        EXPECT_EQ(std::string(c.logged) + ", device closed\n", errors.str());
        EXPECT_EQ(Lines{"50 unsupported"}, told(test::user_data({8, 1, 5, 5}), 50));
        told(test::user_data({8, 1, 5, 5}), 50);
        EXPECT_EQ(Lines{"50 unsupported"}, told(test::activate(), 50));
        run(5000);
        told(test::user_data({8, 1, 5, 5}), 50);
        EXPECT_TRUE(
            test::written_twice_with_a_count(errors.str(), "device closed, userData refused", 1));
        EXPECT_EQ(Lines{}, signalled("activated"));
        destroy(50);
    }
}

}  // namespace
