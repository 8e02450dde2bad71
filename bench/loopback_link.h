#pragma once
// The controller link over loopback for benchmarks: the server runs its real
// loop on a thread of its own with the given services bound, and a
// controller on a blocking socket sends frames encoded beforehand and reads
// the answers.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"
#include "link/control_links.h"
#include "link/ctrl_server.h"
#include "runtime/fd.h"
#include "runtime/multiplexer.h"
#include "tests/support/loopback.h"
#include "tests/support/stream_capture.h"
#include "tests/support/tpkt.h"

namespace bench {

// The server with its loop, on its own thread from construction to
// destruction; everything of the server is touched by that thread only.
// `setup` runs there first and binds the services.
class ServerThread {
public:
    explicit ServerThread(std::function<void()> setup) : port_(test::free_port()) {
        thread_ = std::thread([this, setup] {
            setup();
            CtrlSrv::ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port_, false));
            multiplexer.run(false, true);
            CtrlSrv::ctrlServer.Deactivate();
        });
    }
    ~ServerThread() {
        multiplexer.terminate();
        thread_.join();
    }
    unsigned short port() const { return port_; }

private:
    test::StreamCapture quiet_{std::clog};  // the server's lines
    unsigned short port_;
    std::thread thread_;
};

// The TPKT frame of a command.
inline std::string frame(const LGCP::Command& command, int seq, std::optional<unsigned> slot = {}) {
    LGCP::Message message;
    message.set_seq(seq);
    if (slot) message.set_slot(*slot);
    message.get_pdu().set_command(command);
    std::vector<char> octets;
    ASN1::PEREncoder encoder(octets);
    message.accept(encoder);
    return test::tpkt_frame(std::string(octets.begin(), octets.end()));
}

// The controller: a blocking socket with no delay.
class Controller {
public:
    explicit Controller(unsigned short port) {
        for (int attempt = 0; attempt < 100 && !socket_; ++attempt) {
            socket_ = test::connect_loopback_now(port);
            // The server may not listen yet.
            if (!socket_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!socket_) throw std::runtime_error("no server");
        BlockMode(socket_.get());  // the controller waits in recv
        int on = 1;
        ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }

    void send(const std::string& frame) {
        if (::send(socket_.get(), frame.data(), frame.size(), MSG_NOSIGNAL) !=
            ssize_t(frame.size()))
            throw std::runtime_error("send failed");
    }

    // The seq of the next answer (signals skipped), or -1 when it is no
    // success. A bare echo server's answer is the command itself.
    int receive_answer() {
        for (;;) {
            std::string payload;
            while (!reader_.next(payload)) {
                char buffer[4096];
                ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
                if (n <= 0) throw std::runtime_error("the server closed the connection");
                reader_.feed(std::string(buffer, static_cast<size_t>(n)));
            }
            LGCP::Message answer;
            ASN1::PERDecoder decoder(payload.data(), payload.data() + payload.size());
            if (!answer.accept(decoder)) return -1;
            if (answer.get_pdu().is_signal()) continue;
            if (answer.get_pdu().is_command() && answer.has_seq())
                return answer.get_seq()->getValue();
            const LGCP::Response* response = answer.get_pdu().get_response();
            if (!response || !response->is_success() || !answer.has_seq()) return -1;
            return answer.get_seq()->getValue();
        }
    }

private:
    Fd socket_;
    test::TpktReader reader_;
};

// The command frames of one pair (create and destroy, say) for each number
// of a window.
struct Pairs {
    std::vector<std::string> first, second;
};

// Keeps `state.range(0)` pairs in flight; one item is one pair answered.
inline void RunPairs(benchmark::State& state, Controller& controller, const Pairs& pairs) {
    const unsigned window = static_cast<unsigned>(state.range(0));
    auto send = [&](unsigned n) {
        controller.send(pairs.first[n]);
        controller.send(pairs.second[n]);
    };
    for (unsigned n = 0; n < window; ++n) send(n);
    unsigned next = 0;
    for (auto _ : state) {
        if (controller.receive_answer() < 0 || controller.receive_answer() < 0) {
            state.SkipWithError("a command failed");
            return;
        }
        send(next);
        next = (next + 1) % window;
    }
    for (unsigned n = 0; n < 2 * window; ++n) controller.receive_answer();
    state.SetItemsProcessed(state.iterations());
}

}  // namespace bench
