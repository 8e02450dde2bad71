// Arbitrary byte streams from a controller, cut into arbitrary pieces, through
// the stream-socket and TPKT layers into the controller server, with the
// server's services bound in its order on the simulated board (so arbitrary
// hardware commands reach the board's models). Whatever arrives, the link
// stays up (bad framing never closes it) and everything the server sends back
// is a frame holding a message that decodes.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/per_decoder.h"
#include "fuzz/pair_link.h"
#include "board/sim/sim_board.h"
#include "hardware/hw_mux.h"
#include "link/ctrl_server.h"
#include "link/tpkt_protocol.h"
#include "server/services.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/loopback.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace {

struct Server {
    Server() {
        // The server's lines would drown the fuzzer's.
        for (std::ostream* stream : {&std::cout, &std::cerr, &std::clog})
            saved.push_back(stream->rdbuf(quiet.rdbuf()));
        // As the server starts: the switch, then the services in their order.
        HwMux::instance();
        for (CtrlSrv::Service* service : ControllerServices()) CtrlSrv::ctrlServer.Bind(service);
        CtrlSrv::ctrlServer.Activate(link = new PairLink);
    }
    // Down as the server goes down, while the simulated board still exists;
    // the hardware singletons go at exit, after this: closed, they say nothing.
    ~Server() {
        CtrlSrv::ctrlServer.reset_for_test();
        test::HardwareReset::reset_all();
        std::cout.rdbuf(saved[0]);
        std::cerr.rdbuf(saved[1]);
        std::clog.rdbuf(saved[2]);
    }

    std::ostringstream quiet;
    std::vector<std::streambuf*> saved;
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    PairLink* link;
};

// Reads the server's answers; false when one is not a good frame.
bool answers_are_sound(int fd, test::TpktReader& reader) {
    reader.feed(test::read_available(fd));
    std::string payload;
    while (reader.next(payload)) {
        LGCP::Message message;
        ASN1::PERDecoder decoder(payload.data(), payload.data() + payload.size());
        if (!message.accept(decoder)) return false;
    }
    return !reader.bad();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Server server;
    server.quiet.str(std::string());
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) return 0;
    Fd ours(pair[0]), controller(pair[1]);
    server.link->take(ours);
    ours.close();

    FuzzedDataProvider input(data, size);
    test::TpktReader reader;
    // Pauses stay well inside the heartbeat's time, which would drop the link.
    unsigned pauses = 30;
    while (input.remaining_bytes() > 0) {
        // A piece of 1 to 64 bytes; now and then a pause that lets a partial
        // frame time out.
        const uint8_t control = input.ConsumeIntegral<uint8_t>();
        const std::string piece = input.ConsumeBytesAsString((control & 0x3F) + 1);
        test::write_bytes(controller.get(), piece);
        server.loop.pump();
        if ((control & 0x40) && pauses > 0) {
            --pauses;
            server.loop.advance(Tpkt_protocol::partial_frame_timeout_ms);
        }
        if (!answers_are_sound(controller.get(), reader)) __builtin_trap();
    }
    if (!server.link->connected()) __builtin_trap();

    // Down again, with no timer of this input left behind.
    server.link->Disconnect();
    server.loop.pump();
    // What the board's call journal kept of this input would look like a leak.
    board::sim::Board::instance().clear_journal();
    return 0;
}
