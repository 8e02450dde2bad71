// Byte streams from the dial-in authentication program, arriving in
// arbitrary pieces, through the record reassembly and the dispatch to two
// modem slots, mixed with activations that answer the program and with the
// program going away. Every signal the server sends must encode and decode,
// and the factory must keep no more connections than there are.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "board/sim/sim_board.h"
#include "fuzz/pair_link.h"
#include "link/ctrl_server.h"
#include "slots/modem_factory.h"
#include "slots/slot.h"
#include "slots/slots.h"
#include "tests/support/loopback.h"
#include "tests/support/test_controller.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace {

std::ostringstream serverLog;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "%s\nauth_link_fuzzer: %s\n", serverLog.str().c_str(), why.c_str());
    std::abort();
}

Fd socket_pair(Fd& other) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
        fail("no socket pair");
    other = Fd(pair[1]);
    return Fd(pair[0]);
}

struct Server {
    Server() {
        std::cout.rdbuf(serverLog.rdbuf());
        std::cerr.rdbuf(serverLog.rdbuf());
        std::clog.rdbuf(serverLog.rdbuf());
        ::setenv("BOARD_AUTH_PORT", std::to_string(test::free_port()).c_str(), 1);
        CtrlSrv::ctrlServer.Bind(Slots::instance());
        CtrlSrv::ctrlServer.Activate(link = new PairLink);
    }
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    PairLink* link;
};

// The controller's end: every frame must decode.
class Controller {
public:
    explicit Controller(Server& server) : server_(server) {
        Fd ours;
        socket_ = socket_pair(ours);
        server_.link->take(ours);
    }
    void send(const LGCP::Command& command, unsigned slot) {
        test::write_bytes(socket_.get(), test::command_frame(command, ++seq_, slot));
        settle();
    }
    void settle() {
        server_.loop.pump(3);
        reader_.feed(test::read_available(socket_.get()));
        std::string payload;
        LGCP::Message message;
        while (reader_.next(payload))
            if (!test::decode(payload, message)) fail("an undecodable frame");
    }
    void leave() {
        server_.link->Disconnect();
        server_.loop.pump(2);
    }

private:
    Server& server_;
    Fd socket_;
    test::TpktReader reader_;
    int seq_ = 0;
};

LGCP::Command create_modem() {
    LGCP::Command command;
    TERM::ModemParams& params = command.select_create().select_modem();
    params.include_fax();  // an originated fax call runs no program
    params.include_originate();
    return command;
}

LGCP::Command activate(FuzzedDataProvider& input) {
    LGCP::Command command;
    TERM::ModemUserParameters& user = command.select_activate().select_modem();
    user.set_remoteAddr(input.ConsumeRandomLengthString(16));
    user.set_mtu(input.ConsumeIntegral<int>());
    return command;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Server server;
    serverLog.str(std::string());
    ModemFactory& factory = ModemFactory::instance();
    factory.reset_for_test();
    Controller controller(server);
    // Slots 1 and 2 on modems 0 and 1, set up as a stream request would.
    for (unsigned slot : {1u, 2u}) {
        controller.send(create_modem(), slot);
        if (Slot* modem = Slots::instance()->at(slot)) modem->IOnOutputStream();
    }

    Fd program;
    factory.Serve(socket_pair(program), INet4::Addr());
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 7)) {
            case 0: controller.send(activate(input), input.ConsumeIntegralInRange<unsigned>(1, 2)); break;
            case 1: program.close(); break;
            default: {
                const std::string piece = input.ConsumeRandomLengthString(600);
                if (program) test::write_bytes(program.get(), piece);
                break;
            }
        }
        controller.settle();
        if (factory.connections() > 1) fail("a connection kept twice");
        if (serverLog.str().find("encode error") != std::string::npos) fail("a signal that cannot be sent");
    }

    controller.leave();
    if (!factory.modemSlots().empty()) fail("modem slots left in the factory");
    board::sim::Board::instance().reset();
    return 0;
}
