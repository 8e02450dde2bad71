// Voice players and recorders through the controller's commands, wired by
// `connect`: the bytes on their transparent channels, on the TCP streams
// and in the files, and what the controller hears.
#include <errno.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/slots/mixer_voice_fixture.h"
#include "tests/support/case_name.h"

namespace {

using board::sim::Op;
using test::create_file_player;
using test::create_network_player;
using test::create_recorder;
using test::create_trunk;
using Lines = std::vector<std::string>;
using Cause = LGCP::ErrorCause::NamedNumber;

constexpr unsigned kPlayer = 1, kRecorder = 2, kTrunk = 3;
constexpr int kTrunkChannel = 1;  // E1 trunk 0, timeslot 1
constexpr uint32_t kPlayerThreshold = 5, kRecorderThreshold = 0;

const std::string kA(3000, 'a');
const std::string kB = [] {
    std::string bytes(9000, 0);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    return bytes;
}();

bool has(const Lines& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line) == 1;
}

long count_of(const std::string& text, const std::string& needle) {
    long n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

class VoiceSlots : public test::MixerVoiceTest {
protected:
    void phrase(const std::string& name, const std::string& bytes) {
        server.board().write_file("/usr/local/voice/" + name, bytes);
    }
    int player_timeslot() const { return voice_timeslot(kPlayerThreshold); }
    int recorder_timeslot() const { return voice_timeslot(kRecorderThreshold); }
    // The player feeds the trunk slot: what the controller hears until
    // `done`.
    Lines play_to_trunk(const std::function<bool()>& done) {
        make(create_trunk(0, kTrunkChannel), kTrunk);
        controller.send(test::connect_command(kTrunk), 1, kPlayer);
        return heard_until(done, 20);
    }

    test::TcpPeer peer;
};

TEST_F(VoiceSlots, AFilePlayerPlaysItsPhrasesRepeatTimes_ToTheRecorderWiredToIt) {
    phrase("a", kA);
    phrase("b", kB);
    make(create_recorder(peer.port()), kRecorder);
    make(create_file_player({"a", "b"}, 2), kPlayer);
    mcc().stall(player_timeslot(), true);
    connect(kPlayer, kRecorder);
    heard_until([&] { return peer.accept(); });
    heard_for(5);
    EXPECT_EQ("", sent_on(player_timeslot()));  // stalled: nothing written, nothing lost

    mcc().stall(player_timeslot(), false);
    const std::string played = kA + kB + kA + kB;
    const Lines lines = heard_until([&] { return peer.received().size() >= played.size(); });
    EXPECT_EQ(played, sent_on(player_timeslot()));
    EXPECT_EQ(played, peer.received());
    EXPECT_EQ((Lines{"1 transmitter inactive", "1 abort 0"}), lines);
}

TEST_F(VoiceSlots, PhrasesMissingOrOutsideTheVoiceFolderAreSkipped) {
    phrase("a", kA);
    phrase("sub/c", "ccc");
    server.board().write_file("/usr/local/secret", "not a phrase");
    make(create_file_player({"a", "none", "../secret", "/usr/local/voice/a", "sub/../a", "sub/c"},
                            1),
         kPlayer);
    EXPECT_TRUE(has(play_to_trunk([] { return false; }), "1 abort 0"));
    EXPECT_EQ(kA + "ccc", sent_on(player_timeslot()));
    EXPECT_EQ(3, count_of(errors.str(), "is not in the voice folder, skipped"));
}

TEST_F(VoiceSlots, AFilePlayerWithoutAPhraseFailsTheConnect_AndAbortsOnTheNextPass) {
    make(create_file_player({"none", "gone"}, 0), kPlayer);
    make(create_trunk(0, kTrunkChannel), kTrunk);
    EXPECT_EQ((Lines{"1 connectFail", "1 abort 0"}), heard(test::connect_command(kTrunk), kPlayer));
}

// Phrases that yield nothing end an endless play instead of starting it
// again on every pass.
TEST_F(VoiceSlots, AnEndlessPlayerWhosePhrasesAreEmptyEndsThePlay) {
    phrase("empty", "");
    make(create_file_player({"empty", "none"}, 0), kPlayer);
    EXPECT_TRUE(has(play_to_trunk([] { return false; }), "1 abort 0"));
    EXPECT_EQ(0u, server.loop().ready_passes(50));
}

TEST_F(VoiceSlots, ANetworkPlayerSendsItsIdThenPlaysWhatThePeerSends_UntilItCloses) {
    make(create_network_player(peer.port(), 0x01020304), kPlayer);
    const Lines started = play_to_trunk([&] { return peer.accept() && peer.received().size() >= 4; });
    EXPECT_TRUE(has(started, "1 startPlaying") && has(started, "1 transmitter active " +
                                                                   std::to_string(player_timeslot())));
    EXPECT_EQ(std::string("\x01\x02\x03\x04", 4), peer.received());

    ASSERT_TRUE(peer.send(kB));
    heard_until([&] { return sent_on(player_timeslot()).size() >= kB.size(); });
    EXPECT_EQ(kB, sent_on(player_timeslot()));
    peer.close();
    EXPECT_EQ((Lines{"1 transmitter inactive", "1 abort 0"}), heard_for(10));
    EXPECT_NE(std::string::npos, progress.str().find("closed."));
}

TEST_F(VoiceSlots, ANetworkPlayerThatCannotConnectAborts) {
    const unsigned short port = test::free_port();
    make(create_network_player(port, 7), kPlayer);
    EXPECT_TRUE(has(play_to_trunk([] { return false; }), "1 abort 0"));
    EXPECT_EQ(1, count_of(progress.str(), "player[" + std::to_string(player_timeslot()) +
                                              "]: connection to 127.0.0.1:" +
                                              std::to_string(port) + " fail."));
}

// The connection fails inside its start: the player is released at once
// and offers no stream.
TEST_F(VoiceSlots, ANetworkPlayerWithABadHostFailsTheConnect) {
    make(create_network_player(5000, 7, "gateway"), kPlayer);
    make(create_trunk(0, kTrunkChannel), kTrunk);
    EXPECT_EQ((Lines{"1 abort 0", "1 connectFail"}), heard(test::connect_command(kTrunk), kPlayer));
    EXPECT_NE(std::string::npos, progress.str().find("connection to gateway:5000 fail."));
}

struct RecordingEnd {
    const char* what;
    std::function<void(board::sim::MccModel&, test::TcpPeer&, int timeslot)> end;
    const char* heard;
};

const RecordingEnd kRecordingEnds[] = {
    {"the channel data ends", [](auto& mcc, auto&, int ts) { mcc.end_data(ts); },
     "2 stopRecording userRequest"},
    {"the peer closes",
     [](auto& mcc, auto& peer, int) {
         peer.close();
         mcc.line_packet(kTrunkChannel, {1, 2, 3});
         mcc.line_packet(kTrunkChannel, {4, 5, 6});
     },
     "2 stopRecording connectionAborted"},
};

class RecordingEnds : public VoiceSlots, public ::testing::WithParamInterface<RecordingEnd> {};

TEST_P(RecordingEnds, ARecorderSendsTheChannelsBytes_UntilTheStreamEnds) {
    make(create_trunk(0, kTrunkChannel), kTrunk);
    make(create_recorder(peer.port()), kRecorder);
    connect(kTrunk, kRecorder);
    heard_until([&] { return peer.accept(); });
    const std::vector<uint8_t> bytes(2500, 0x5A);
    mcc().line_packet(kTrunkChannel, bytes);
    heard_until([&] { return peer.received().size() >= bytes.size(); });
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), peer.received());

    GetParam().end(mcc(), peer, recorder_timeslot());
    EXPECT_EQ((Lines{GetParam().heard}), heard_for(20));
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordingEnds, ::testing::ValuesIn(kRecordingEnds),
                         test::CaseName());

TEST_F(VoiceSlots, ARecorderThatCannotConnectSaysSo) {
    make(create_trunk(0, kTrunkChannel), kTrunk);
    make(create_recorder(test::free_port()), kRecorder);
    controller.send(test::connect_command(kRecorder), 1, kTrunk);
    EXPECT_TRUE(has(heard_for(20), "2 stopRecording connectionFail"));
}

// Destroyed, they give their channels back with their paths, also those
// whose release the driver refused.
TEST_F(VoiceSlots, PlayersAndRecordersMeetTheMixerThroughTheSwitch) {
    query_mixers();
    phrase("a", kA);
    make(create_file_player({"a"}, 0), kPlayer);
    make(create_recorder(peer.port()), kRecorder);
    make(test::create_mixer_in(0, {1}, test::MixChannel{2}), 10);
    make(test::create_mixer_out(0, {2}, {{{1}, board::mixer::kUnityGain}}), 11);
    connect(kPlayer, 10);
    connect(11, kRecorder);
    const auto& input = fabric().channel(mixer().timeslot(0, 1));
    EXPECT_EQ(player_timeslot(), input.value);
    const auto& recorder = fabric().channel(recorder_timeslot());
    EXPECT_EQ(mixer().timeslot(0, 2), recorder.value);

    for (unsigned slot : {kPlayer, kRecorder}) {
        sim().fail_next(Op::Ioctl, board::hal::kDevice, EIO, board::hal::kMuxWriteByte);
        EXPECT_EQ(std::nullopt, outcome(test::command(Alternative::destroy), slot));
    }
    EXPECT_EQ(board::sim::HalModel::Output::Off, recorder.output);
    expect_sound();
}

// ---- Channels

struct ChannelCase {
    const char* what;
    LGCP::Command command;
    int flags;
    board::mcc::mcc_allocation record;
};

const ChannelCase kChannels[] = {
    {"player", create_file_player({"a"}, 1), O_WRONLY, {2, 1024, 0, 0, 5}},
    {"recorder", create_recorder(4000), O_RDONLY, {2, 1024, 0, 5, 0}},
};

class VoiceChannels : public VoiceSlots, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(VoiceChannels, AreTransparentChannelsAllocatedForOneDirection) {
    sim().clear_journal();
    make(GetParam().command, kPlayer);
    const auto calls = sim().journal(board::mcc::kDevice);  // open, allocate, timeslot
    ASSERT_LE(3u, calls.size());
    const auto& record = GetParam().record;
    EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(&record),
                                   reinterpret_cast<const uint8_t*>(&record) + sizeof record),
              calls[1].data);
    const auto opens = sim().channels(board::mcc::kDevice);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(GetParam().flags | O_NONBLOCK | O_CLOEXEC, opens[0]->flags());
}

// Each call of the create on the device refused in turn (a player asks its
// channel's timeslot twice): the create is refused with the channel given
// back, or, once no call of it was refused, made.
TEST_P(VoiceChannels, AreGivenBackWhenTheDeviceFails) {
    for (int nth = 1;; ++nth) {
        SCOPED_TRACE("call " + std::to_string(nth) + " refused");
        bool refused = false;
        sim().refuse = [&, seen = 0](Op, const std::string& path, uint32_t, const void*) mutable {
            if (path != board::mcc::kDevice || ++seen != nth) return 0;
            refused = true;
            return EIO;
        };
        const std::optional<Cause> cause = outcome(GetParam().command, kPlayer);
        sim().refuse = nullptr;
        if (!refused) {
            EXPECT_EQ(std::nullopt, cause);
            EXPECT_EQ(1u, mcc().opens());
            break;
        }
        EXPECT_EQ(Cause::insufficientResources, cause);
        EXPECT_EQ(0u, mcc().opens());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, VoiceChannels, ::testing::ValuesIn(kChannels), test::CaseName());

}  // namespace
