#pragma once
// For the fuzz targets of the signalling slots: the slot registry with the
// media and signalling factories behind a controller link on a socket pair,
// in virtual time on the simulated board, and a controller that checks
// every frame it gets (each decodes, each command is answered once). An
// input ends with the controller leaving: then nothing may be left, no
// signal may have failed to encode, and every packet block must be back.

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "fuzz/pair_link.h"
#include "hardware/hw_mux.h"
#include "link/ctrl_server.h"
#include "link/heartbeat.h"
#include "link/packet.h"
#include "signalling/hdlc_slot_factory.h"
#include "signalling/isdn_factory.h"
#include "signalling/pstn_factory.h"
#include "slots/slots.h"
#include "slots/trunk_factory.h"
#include "tests/support/loopback.h"
#include "tests/support/slot_commands.h"
#include "tests/support/test_controller.h"
#include "tests/support/test_slots.h"
#include "tests/support/virtual_loop.h"

namespace SlotFuzz {

// What the server logged during the current input.
inline std::ostringstream& log() {
    static std::ostringstream text;
    return text;
}

[[noreturn]] inline void fail(const std::string& why) {
    std::fprintf(stderr, "%s\nslot fuzzer: %s\n", log().str().c_str(), why.c_str());
    std::abort();
}

struct Server {
    Server() {
        for (std::ostream* stream : {&std::cout, &std::clog, &std::cerr})
            stream->rdbuf(log().rdbuf());
        CtrlSrv::ctrlServer.Bind(&HeartBeatCtl::instance());
        CtrlSrv::ctrlServer.Bind(Slots::instance());
        CtrlSrv::ctrlServer.Activate(link = new PairLink);
        TrunkFactories::instance();
        PstnFactory::instance();
        IsdnFactory::instance();
        HdlcSlotFactory::instance();
    }
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    PairLink* link;
};

class Controller {
public:
    explicit Controller(Server& server) : server_(server) {
        log().str(std::string());
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
            fail("no socket pair");
        server_.link->take(Fd(pair[0]));
        socket_ = Fd(pair[1]);
    }

    // Sends a command and waits for its answer.
    void send(const LGCP::Command& command, std::optional<unsigned> slot) {
        const int seq = nextSeq_++;
        unanswered_.insert(seq);
        test::write_bytes(socket_.get(), test::command_frame(command, seq, slot));
        silentMs_ = 0;
        for (int pass = 0; pass < 20 && !unanswered_.empty(); ++pass) {
            server_.loop.pump();
            take();
        }
        if (!unanswered_.empty()) fail("a command unanswered");
    }
    // Lets time pass, pinging as a live controller does: the server drops
    // one that is silent for two minutes.
    void run(unsigned ms) {
        while (ms > 0) {
            const unsigned step = std::min(ms, kPingMs - silentMs_);
            server_.loop.advance_settled(step);
            take();
            ms -= step;
            silentMs_ += step;
            if (silentMs_ == kPingMs) send(test::ping(), std::nullopt);
        }
    }

    // The controller goes, every slot with it; the board starts afresh.
    void leave() {
        server_.link->Disconnect();
        server_.loop.pump(2);
        if (std::string left = test::leftovers(); !left.empty()) fail("left: " + left);
        if (log().str().find("encode error") != std::string::npos) fail("a signal did not encode");
        if (Packet_pool::free_count() != Packet_pool::capacity()) fail("a packet block not back");
        board::sim::Board::instance().reset();
        HwMux::instance().reset_for_test();
    }

    board::sim::TdmFabric& frames() const {
        return board::sim::Board::instance()
            .model_as<board::sim::HalModel>(board::hal::kDevice)
            ->frames;
    }

    // A device on the line of `channel` sends a frame; the loop runs on.
    void device_sends(int channel, const std::string& frame) {
        frames().endpoint(channel).send({frame.begin(), frame.end()});
        run(1);
    }

private:
    // Everything that came must decode; an answer must answer something.
    void take() {
        inbox_.feed(test::read_available(socket_.get()));
        if (inbox_.undecodable() > 0) fail("an undecodable frame");
        while (auto answer = inbox_.take(test::is_response)) {
            auto seq = test::seq_of(*answer);
            if (!seq || unanswered_.erase(*seq) != 1) fail("an answer to nothing, or a second one");
        }
    }

    static constexpr unsigned kPingMs = HeartBeatCtl::timeout_ms / 2;

    Server& server_;
    Fd socket_;
    test::ControllerInbox inbox_;
    std::set<int> unanswered_;
    int nextSeq_ = 0;
    unsigned silentMs_ = 0;
};

// One input: a fresh controller, `set_up`, up to `steps` calls of `step`
// while the input lasts, and the controller leaves.
template <class SetUp, class Step>
int run_input(const uint8_t* data, size_t size, unsigned steps, SetUp set_up, Step step) {
    static Server server;
    Controller controller(server);
    FuzzedDataProvider in(data, size);
    set_up(controller, in);
    for (unsigned i = 0; i < steps && in.remaining_bytes() > 0; ++i) step(controller, in);
    controller.leave();
    return 0;
}

// Wires a trunk or BRI trunk slot and a signalling slot to each other.
inline void wire(Controller& controller, unsigned a, unsigned b) {
    controller.send(test::connect_command(b), a);
    controller.send(test::connect_command(a), b);
}

}  // namespace SlotFuzz
