// The TDM switch against the simulated fabric: the map it keeps of the
// channels, the refresh that keeps switched-off bus channels off, and
// the bytes that arrive where channels are switched.

#include "hardware/hw_mux.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "board/devio.h"
#include "board/sim/hal_model.h"
#include "tests/hardware/hardware_test.h"

namespace {

namespace hal = board::hal;
using board::sim::HalModel;
using board::sim::Op;

class SwitchTest : public test::HardwareTest {
protected:
    void open() {
        ASSERT_TRUE(mux.IsOpened());
        sim().clear_journal();
        progress.clear();
    }
    std::vector<int32_t> disables() { return requests<int32_t>(hal::kDevice, hal::kMuxDisable); }

    HwMux& mux = HwMux::instance();
    HalModel& fabric = model<HalModel>(hal::kDevice);
};

TEST_F(SwitchTest, OpeningSwitchesEveryBusChannelOffInOrder) {
    int fd = board::open(hal::kDevice, O_RDWR);  // another user of the fabric
    hal::mux_connect left{8300, 8200};
    ASSERT_EQ(0, board::ioctl(fd, hal::kMuxConnect, &left));
    ::close(fd);
    sim().clear_journal();

    ASSERT_TRUE(mux.IsOpened());

    std::vector<int32_t> channels = disables();
    ASSERT_EQ(2048u, channels.size());
    for (int i = 0; i < 2048; ++i) ASSERT_EQ(8192 + i, channels[i]);
    EXPECT_EQ(HwMux::kDisabled, mux.entry(8300));
    EXPECT_EQ(HalModel::Output::Off, fabric.channel(8300).output);
    EXPECT_EQ(0u, mux.cursor());
    EXPECT_EQ("hwMux: device opened\n", progress.str());
}

TEST_F(SwitchTest, AnAbsentDeviceFailsEveryOperationAndIsTriedAgainEachTime) {
    fabric.absent = true;
    const std::vector<std::function<bool()>> operations = {
        [&] { return mux.Connect(8200, 8300); }, [&] { return mux.Disconnect(8300); },
        [&] { return mux.Disable(8300); },       [&] { return mux.Write(8300, 0x11); },
        [&] { return mux.Read(8300) >= 0; },
    };
    for (const auto& operation : operations) EXPECT_FALSE(operation());

    EXPECT_EQ(operations.size(), sim().journal(hal::kDevice).size());  // one open each
    // Said once a second.
    EXPECT_EQ("hwMux: can't open device: No such file or directory\nhwMux: ERROR not opened\n",
              progress.str());

    fabric.absent = false;
    EXPECT_TRUE(mux.Connect(8200, 8300));
    EXPECT_EQ(HalModel::Output::Source, fabric.channel(8300).output);
}

struct MapCase {
    const char* name;
    std::function<bool(HwMux&)> operation;
    int channel;
    uint16_t entry;  // what the map then holds for the channel
};

const MapCase kMapCases[] = {
    {"connect", [](HwMux& m) { return m.Connect(8200, 8300); }, 8300, 8200},
    {"disconnect", [](HwMux& m) { return m.Disconnect(8300); }, 8300, HwMux::kDriven},
    {"write", [](HwMux& m) { return m.Write(8300, 0x42); }, 8300, HwMux::kDriven},
    {"disable", [](HwMux& m) { return m.Disable(8300); }, 8300, HwMux::kDisabled},
    {"read", [](HwMux& m) { return m.Read(8300) == 0x42; }, 8300, 0x1234},
    {"last_bus_channel", [](HwMux& m) { return m.Connect(5, 10239); }, 10239, 5},
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << c.name; }

class SwitchMap : public SwitchTest, public ::testing::WithParamInterface<MapCase> {};

// Once the driver has switched: a refusal leaves the entry as it was.
TEST_P(SwitchMap, EntryFollowsTheOperation) {
    open();
    fabric.line[0x1234] = 0x42;
    for (bool refused : {false, true}) {
        mux.Connect(0x1234, GetParam().channel);
        if (refused) sim().fail_next(Op::Ioctl, hal::kDevice, EIO);
        EXPECT_EQ(!refused, GetParam().operation(mux));
        EXPECT_EQ(refused ? 0x1234 : GetParam().entry, mux.entry(GetParam().channel)) << refused;
    }
}

INSTANTIATE_TEST_SUITE_P(HwMux, SwitchMap, ::testing::ValuesIn(kMapCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Claims: what each operation does to the record of the channels
// 8200, 8300 and 8301 (what each carries, and who claims it), which follows
// the fabric whatever the driver answers, and what each wants where the
// driver has not done it yet. The steps: "a:8200>8300" (owner a switches
// 8200 into 8300), "a-8300" (a releases its receive channel), "a/8300" (a
// leaves another's channel), "a~8300" (a switches off its own channel),
// "^8200" (the channel goes back), "+8200" (a new user takes it), "a?" (a is
// forgotten), "*" (a refresh pass); before "!", the driver refuses the next
// request, before "!!" every request up to the end of the next "*". Bus
// channels rest switched off; a release leaves silence.

struct OwnerCase {
    const char* name;
    const char* steps;
    const char* result;  // of the last step
    const char* record;
};

const OwnerCase kOwnerCases[] = {
    {"connect_of_the_same_source_shares_the_path", "a:8200>8300 b:8200>8300", "true",
     "8200 off, 8300 <- 8200 a b, 8301 off"},
    {"connect_of_another_source_replaces_the_path_and_its_owners", "a:8200>8300 b:8301>8300",
     "true", "8200 off, 8300 <- 8301 b, 8301 off"},
    {"connect_refused_leaves_the_path_and_its_owners", "a:8200>8300 ! b:8301>8300", "false",
     "8200 off, 8300 <- 8200 a, 8301 off"},
    {"release_breaks_the_path_of_its_last_owner", "a:8200>8300 a-8300", "broken",
     "8200 off, 8300 idle, 8301 off"},
    {"release_leaves_a_shared_path_to_the_other_owner", "a:8200>8300 b:8200>8300 a-8300", "kept",
     "8200 off, 8300 <- 8200 b, 8301 off"},
    {"release_refused_owes_the_silence_and_the_owner_leaves", "a:8200>8300 ! a-8300", "failed",
     "8200 off, 8300 <- 8200 wants idle, 8301 off"},
    {"a_refused_release_is_done_by_the_next_refresh", "a:8200>8300 ! a-8300 *", "true",
     "8200 off, 8300 idle, 8301 off"},
    {"a_refused_switch_off_is_tried_until_the_driver_does_it",
     "a:8200>8300 !! a~8300 * *", "true", "8200 off, 8300 off, 8301 off"},
    {"a_later_connect_replaces_what_is_owed", "a:8200>8300 ! a-8300 b:8301>8300 *", "true",
     "8200 off, 8300 <- 8301 b, 8301 off"},
    {"a_refused_connect_leaves_what_is_owed", "a:8200>8300 ! a-8300 ! b:8301>8300", "false",
     "8200 off, 8300 <- 8200 wants idle, 8301 off"},
    {"switch_off_of_its_own_channel", "a:8200>8300 a~8300", "broken", "8200 off, 8300 off, 8301 off"},
    {"switch_off_keeps_another_owners_path_into_it", "a:8200>8300 b~8300", "kept",
     "8200 off, 8300 <- 8200 a, 8301 off"},
    {"hand_back_takes_every_path_from_and_into_the_channel",
     "a:8200>8300 b:8200>8301 a:8301>8200 ^8200", "true", "8200 off, 8300 off, 8301 off"},
    {"hand_back_leaves_each_channel_fed_from_it_to_its_own_rest",
     "a:8200>8300 a-8300 b:8200>8300 b:8200>8301 ^8200", "true", "8200 off, 8300 idle, 8301 off"},
    {"hand_back_refused_owes_the_switch_off_and_keeps_no_owner", "a:8301>8200 ! ^8200", "false",
     "8200 <- 8301 wants off, 8300 off, 8301 off"},
    {"hand_back_after_an_owed_switch_off_switches_it_off", "a:8200>8300 ! a~8300 ^8200", "true",
     "8200 off, 8300 off, 8301 off"},
    {"hand_back_refused_after_an_owed_switch_off_still_owes_it",
     "a:8200>8300 ! a~8300 ! ^8200 *", "true", "8200 off, 8300 off, 8301 off"},
    {"release_after_an_owed_switch_off_still_owes_it", "a:8200>8300 ! a~8300 a-8300", "kept",
     "8200 off, 8300 <- 8200 wants off, 8301 off"},
    {"a_switch_off_of_its_own_channel_waits_for_another_claim_to_go",
     "b:8200>8300 a~8300 b/8300", "broken", "8200 off, 8300 off, 8301 off"},
    {"leave_refused_after_the_channels_own_switch_off_owes_the_switch_off",
     "b:8200>8300 a~8300 ! b/8300", "failed", "8200 off, 8300 <- 8200 wants off, 8301 off"},
    {"leave_falls_back_to_the_release_of_the_channels_own_owner",
     "a:8200>8300 a-8300 b:8201>8300 b/8300", "broken", "8200 off, 8300 idle, 8301 off"},
    {"hand_back_takes_the_paths_of_owners_that_went", "a:8200>8300 ! a-8300 a? ^8200", "true",
     "8200 off, 8300 idle, 8301 off"},
    {"a_new_user_takes_the_channel_from_an_earlier_one", "a:8301>8200 a:8200>8300 +8200", "true",
     "8200 off, 8300 off, 8301 off"},
    {"a_new_user_after_an_owed_switch_off_switches_it_off", "a:8200>8300 ! a~8300 ! +8200 *",
     "true", "8200 off, 8300 off, 8301 off"},
    {"a_new_user_of_a_quiet_channel_leaves_it_alone", "a:8301>8300 a-8300 +8300", "true",
     "8200 off, 8300 idle, 8301 off"},
    {"forget_leaves_what_only_the_owner_had_to_its_rest_and_the_shared",
     "a:8200>8300 b:8200>8301 a:8200>8301 a?", "true", "8200 off, 8300 off, 8301 <- 8200 b"},
    {"forget_after_the_channels_own_switch_off_switches_it_off", "b:8200>8300 a~8300 b?", "true",
     "8200 off, 8300 off, 8301 off"},
    {"forget_of_an_owner_whose_switch_off_is_refused_leaves_it_owed", "a:8200>8300 ! a?", "true",
     "8200 off, 8300 <- 8200 wants off, 8301 off"},
};

void PrintTo(const OwnerCase& c, std::ostream* os) { *os << c.name; }

class SwitchOwners : public SwitchTest, public ::testing::WithParamInterface<OwnerCase> {
protected:
    struct Named final : HwMux::Owner {
        explicit Named(char letter) : name(1, letter) {}
        void PutOwner(std::ostream& os) const override { os << name; }
        std::string name;
    };
    ~SwitchOwners() override {
        sim().refuse = nullptr;
        mux.Forget(a_);
        mux.Forget(b_);
    }
    static std::string said(bool done) { return done ? "true" : "false"; }
    static std::string said(HwMux::Released released) {
        if (released == HwMux::Released::broken) return "broken";
        return released == HwMux::Released::kept ? "kept" : "failed";
    }
    // One step; what it answered.
    std::string act(const std::string& step) {
        if (step == "*") {
            mux.OnDPC();
            refusing_ = false;
            return "true";
        }
        const Named& who = step[0] == 'b' ? b_ : a_;
        const bool user = step[0] == '^' || step[0] == '+';
        const int channel = std::atoi(step.c_str() + (user ? 1 : 2));
        switch (user ? step[0] : step[1]) {
            case ':': return said(mux.Connect(channel, std::atoi(&step[step.find('>') + 1]), who));
            case '-': return said(mux.Release(who, channel));
            case '/': return said(mux.Leave(who, channel));
            case '~': return said(mux.SwitchOff(who, channel));
            case '^': return said(mux.HandBack(channel));
            case '+': mux.TakeOver(channel); return "true";
        }
        mux.Forget(who);
        return "true";
    }
    // "off", "idle" or "<- <source>": as the record has the channel, or the fabric.
    static std::string text(bool off, bool idle, int source) {
        return off ? "off" : idle ? "idle" : "<- " + std::to_string(source);
    }
    std::string entry(int channel) {
        const uint16_t value = mux.entry(channel);
        return text(value == HwMux::kDisabled, value == HwMux::kDriven, value);
    }
    std::string wanted(int channel) {
        const HwMux::Setting want = mux.wanted(channel);
        using Kind = HwMux::Setting::Kind;
        return text(want.kind == Kind::off, want.kind == Kind::byte, want.value);
    }
    std::string carried(int channel) {
        const HalModel::ChannelState& state = fabric.channel(channel);
        return text(state.output == HalModel::Output::Off,
                    state.output == HalModel::Output::Driven, state.value);
    }

    Named a_{'a'}, b_{'b'};
    bool refusing_ = false;  // "!!" until the next "*"
};

TEST_P(SwitchOwners, TheRecordFollowsTheFabric) {
    open();
    std::istringstream steps(GetParam().steps);
    std::string result;
    sim().refuse = [&](Op, const std::string&, uint32_t, const void*) {
        return refusing_ ? EIO : 0;
    };
    for (std::string step; steps >> step;) {
        if (step == "!")
            sim().fail_next(Op::Ioctl, hal::kDevice, EIO);
        else if (step == "!!")
            refusing_ = true;
        else
            result = act(step);
    }
    EXPECT_EQ(GetParam().result, result);
    std::string record;
    for (int channel : {8200, 8300, 8301}) {
        EXPECT_EQ(carried(channel), entry(channel)) << channel;
        record += (record.empty() ? "" : ", ") + std::to_string(channel) + " " + entry(channel);
        for (const HwMux::Owner* owner : mux.owners(channel))
            record += " " + static_cast<const Named*>(owner)->name;
        if (!mux.settled(channel)) record += " wants " + wanted(channel);
    }
    EXPECT_EQ(GetParam().record, record);
}

INSTANTIATE_TEST_SUITE_P(HwMux, SwitchOwners, ::testing::ValuesIn(kOwnerCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SwitchTest, ConnectSendsTheDestinationFirst) {
    open();
    ASSERT_TRUE(mux.Connect(8200, 8300));
    auto records = requests<hal::mux_connect>(hal::kDevice, hal::kMuxConnect);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(8300, records[0].destination);
    EXPECT_EQ(8200, records[0].source);
    EXPECT_EQ(8200, fabric.channel(8300).value);
}

TEST_F(SwitchTest, ChannelsOutsideTheBusesLeaveTheBusEntriesAlone) {
    open();
    // Bus 15, timeslot 127 and 127 more: past the last bus channel.
    EXPECT_FALSE(mux.Write(10365, 0x42));
    EXPECT_TRUE(mux.Connect(37, 100));
    EXPECT_EQ(37, mux.entry(100));
    for (int channel = 8192; channel < 10240; ++channel)
        ASSERT_EQ(HwMux::kDisabled, mux.entry(channel)) << channel;
    EXPECT_EQ(2u, sim().journal(hal::kDevice).size());  // both reached the driver
    EXPECT_EQ(37, fabric.channel(100).value);
}

TEST_F(SwitchTest, NegativeChannelsFailWithoutARequest) {
    open();
    EXPECT_EQ(-1, mux.Read(-1));
    EXPECT_FALSE(mux.Write(-1, 0));
    EXPECT_FALSE(mux.Disable(-5));
    EXPECT_FALSE(mux.Connect(-1, 8300));
    EXPECT_TRUE(sim().journal(hal::kDevice).empty());
    EXPECT_EQ("hwMux: ERROR not opened\n", progress.str());
}

TEST_F(SwitchTest, DriverRefusalsAreLoggedWithTheChannels) {
    open();
    const std::vector<std::pair<std::function<bool()>, std::string>> cases = {
        {[&] { return mux.Connect(8200, 8300); }, "hwMux: connect 8200 -> 8300 failed: "},
        {[&] { return mux.Disconnect(8301); }, "hwMux: disconnect failed 8301 : "},
        {[&] { return mux.Disable(8302); }, "hwMux: disable failed 8302 : "},
        {[&] { return mux.Write(8303, 0xAB); }, "hwMux: write failed 8303 <- 0xab : "},
        {[&] { return mux.Read(8304) >= 0; }, "hwMux: read failed 8304 -> 0xff : "},
    };
    for (const auto& [operation, line] : cases) {
        progress.clear();
        sim().fail_next(Op::Ioctl, hal::kDevice, EIO);
        EXPECT_FALSE(operation());
        EXPECT_EQ(line + "Input/output error\n", progress.str());
    }
}

TEST_F(SwitchTest, DisconnectDrivesALawSilence) {
    open();
    mux.Connect(37, 8300);
    ASSERT_TRUE(mux.Disconnect(8300));
    EXPECT_EQ(0xD5, mux.Read(8300));
}

TEST_F(SwitchTest, ABytePutOnAChannelIsReadWhereItIsSwitched) {
    open();
    fabric.line[37] = 0x3C;  // what trunk 1 timeslot 5 brings in
    ASSERT_TRUE(mux.Write(8300, 0x5A));
    ASSERT_TRUE(mux.Connect(8300, 8400));
    ASSERT_TRUE(mux.Connect(37, 8500));
    EXPECT_EQ(0x5A, mux.Read(8400));
    EXPECT_EQ(0x3C, mux.Read(8500));
    EXPECT_EQ(0xFF, mux.Read(8600));  // switched off, nobody drives it
}

TEST_F(SwitchTest, RefreshVisitsEachSwitchedOffEntryOncePerSixteenRounds) {
    open();
    mux.Connect(8200, 8193);
    mux.Write(8194, 1);
    sim().clear_journal();

    mux.OnDPC();
    EXPECT_EQ(128u, mux.cursor());
    std::vector<int32_t> first = disables();
    ASSERT_EQ(126u, first.size());
    EXPECT_EQ(8195, first.front());  // the first entry visited is 1, which is connected
    EXPECT_EQ(8192 + 128, first.back());

    for (int round = 1; round < 16; ++round) mux.OnDPC();
    std::map<int32_t, int> visits;
    for (int32_t channel : disables()) ++visits[channel];
    EXPECT_EQ(2046u, visits.size());
    for (const auto& [channel, count] : visits) ASSERT_EQ(1, count) << channel;
    EXPECT_EQ(0u, visits.count(8193) + visits.count(8194));
    EXPECT_EQ(0u, mux.cursor());
}

TEST_F(SwitchTest, TheLoopRunsTheRefreshOncePerPassOnceTheDeviceIsOpen) {
    loop.pump(4);
    EXPECT_TRUE(disables().empty());
    open();
    for (int pass = 0; pass < 16; ++pass) {
        sim().clear_journal();
        loop.pump();
        ASSERT_EQ(128u, disables().size()) << pass;
    }
    EXPECT_EQ(0u, mux.cursor());  // a full sweep in 16 passes
}

TEST_F(SwitchTest, ResetForTestForgetsTheDevice) {
    open();
    mux.Connect(8200, 8300);
    mux.reset_for_test();
    sim().clear_journal();
    loop.pump();
    EXPECT_TRUE(sim().journal(hal::kDevice).empty());   // no refresh
    EXPECT_TRUE(sim().channels(hal::kDevice).empty());  // closed
    EXPECT_EQ(HwMux::kDisabled, mux.entry(8300));
}

}  // namespace
