#pragma once
// What the mixer and voice slot suites start from: the media slot suite
// with the mixer and voice factories fresh, the mixer model, a TCP peer for
// the voice streams, and the controller's signals told as one line each:
// "3 abort 0", "4 stopRecording userRequest", "2 transmitter active 6149",
// "5 tonec 99" (a detector's event, by its timestamp), "5 tone 2100" (a
// filter's tone), "5 vad".

#include <signal.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <vector>

#include "board/drivers/mixer.h"
#include "board/sim/mixer_model.h"
#include "slots/mixer_factory.h"
#include "slots/voice_factory.h"
#include "tests/slots/media_fixture.h"
#include "tests/support/loopback.h"
#include "tests/support/mixer_voice_commands.h"

namespace test {

// A listening TCP peer on the loopback interface and its one connection.
class TcpPeer {
public:
    TcpPeer() : listener_(listen_loopback(port_)) { listener_.NonBlock(); }

    unsigned short port() const { return port_; }
    bool accept() {
        if (!connection_)
            connection_.reset(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK));
        return bool(connection_);
    }
    // Everything received so far.
    const std::string& received() {
        if (connection_) received_ += read_available(connection_.get(), &closed_);
        return received_;
    }
    bool closed() {
        received();
        return closed_;
    }
    bool send(const std::string& bytes) { return write_bytes(connection_.get(), bytes); }
    void close() { connection_.close(); }

private:
    unsigned short port_ = 0;
    Fd listener_;
    Fd connection_;
    std::string received_;
    bool closed_ = false;
};

class MixerVoiceTest : public MediaSlotTest {
protected:
    MixerVoiceTest() {
        ::signal(SIGPIPE, SIG_IGN);  // as the server: a broken stream fails its write
        Mixer::MixerFactory::instance().reset_for_test();
        VoiceFactory::instance().reset_for_test();
    }

    static board::sim::MixerModel& mixer() {
        return *sim().model_as<board::sim::MixerModel>(board::mixer::kDevice);
    }

    // What the controller hears, one line each: while the loop runs until
    // `done` (at most `passes` passes), and a few passes more.
    std::vector<std::string> heard_until(const std::function<bool()>& done,
                                         unsigned passes = 200);
    std::vector<std::string> heard_for(unsigned passes) {
        return heard_until([] { return false; }, passes);
    }
    std::vector<std::string> heard() { return heard_for(0); }
    // The answer to one command and the signals around it.
    std::vector<std::string> heard(const LGCP::Command& command, unsigned slot) {
        controller.send(command, 1, slot);
        return heard_for(TestController::default_passes);
    }

    // The mixer resources of a query, one line per unit:
    // "unit 0: 32 32 64 770 17 24".
    std::vector<std::string> query_mixers();

    // The timeslot of the allocated channel with this transmit threshold
    // (a player's is 5, a recorder's 0).
    int voice_timeslot(uint32_t txThreshold) const;
    // What the channels of the timeslot have written.
    std::string sent_on(int timeslot) const;
};

std::string describe_signal(const LGCP::Message& message);

}  // namespace test
