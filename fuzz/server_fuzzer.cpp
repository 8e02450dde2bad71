// Arbitrary byte streams from a controller, cut into arbitrary pieces, through
// the stream-socket and TPKT layers into the controller server. Whatever
// arrives, the link stays up (bad framing never closes it) and everything the
// server sends back is a frame holding a message that decodes.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "asn1/per_decoder.h"
#include "fuzz/pair_link.h"
#include "link/ctrl_server.h"
#include "link/heartbeat.h"
#include "link/tpkt_protocol.h"
#include "tests/support/loopback.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace {

struct Server {
    Server() {
        // The server's lines would drown the fuzzer's.
        std::cout.rdbuf(quiet.rdbuf());
        std::cerr.rdbuf(quiet.rdbuf());
        std::clog.rdbuf(quiet.rdbuf());
        CtrlSrv::ctrlServer.Bind(&HeartBeatCtl::instance());
        CtrlSrv::ctrlServer.Activate(link = new PairLink);
    }
    std::ostringstream quiet;
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
    return 0;
}
