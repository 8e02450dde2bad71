// Controller round trips over loopback: the server runs its real loop on a
// thread of its own, and one controller keeps a window of pings in flight.
// Reports round trips per second (items_per_second) and the median and
// 99th-percentile latency of a ping, from its send to its answer.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"
#include "link/control_links.h"
#include "link/ctrl_server.h"
#include "link/heartbeat.h"
#include "runtime/fd.h"
#include "runtime/multiplexer.h"
#include "tests/support/loopback.h"
#include "tests/support/stream_capture.h"
#include "tests/support/tpkt.h"

namespace {

using Clock = std::chrono::steady_clock;

// The server with its loop, on its own thread from construction to
// destruction; everything of the server is touched by that thread only.
class ServerThread {
public:
    ServerThread() : port_(test::free_port()) {
        thread_ = std::thread([this] {
            CtrlSrv::ctrlServer.Bind(&HeartBeatCtl::instance());
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

// The controller: blocking socket, pings with seq 0..255 encoded beforehand.
class Controller {
public:
    explicit Controller(unsigned short port) {
        for (int seq = 0; seq < 256; ++seq) {
            LGCP::Message message;
            message.set_seq(seq);
            message.get_pdu().select_command().select_ping();
            std::vector<char> octets;
            ASN1::PEREncoder encoder(octets);
            message.accept(encoder);
            frames_.push_back(test::tpkt_frame(std::string(octets.begin(), octets.end())));
        }
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

    void send_ping(int seq) {
        const std::string& frame = frames_[static_cast<size_t>(seq) & 0xFF];
        if (::send(socket_.get(), frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
            throw std::runtime_error("send failed");
    }

    // The seq of the next answer, or -1 when it is no success.
    int receive_answer() {
        std::string payload;
        while (!reader_.next(payload)) {
            char buffer[4096];
            ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
            if (n <= 0) throw std::runtime_error("the server closed the connection");
            reader_.feed(std::string(buffer, static_cast<size_t>(n)));
        }
        LGCP::Message answer;
        ASN1::PERDecoder decoder(payload.data(), payload.data() + payload.size());
        if (!answer.accept(decoder) || !answer.has_seq()) return -1;
        const LGCP::Response* response = answer.get_pdu().get_response();
        return response && response->is_success() ? answer.get_seq()->getValue() : -1;
    }

private:
    Fd socket_;
    std::vector<std::string> frames_;
    test::TpktReader reader_;
};

ServerThread* server;
Controller* controller;

double percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    size_t k = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
    std::nth_element(values.begin(), values.begin() + k, values.end());
    return values[k];
}

void PingRoundTrip(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    std::deque<std::pair<int, Clock::time_point>> inFlight;
    std::vector<double> latencies;
    int next = 0;
    auto send = [&] {
        inFlight.emplace_back(next & 0xFF, Clock::now());
        controller->send_ping(next++);
    };
    for (int i = 0; i < window; ++i) send();
    for (auto _ : state) {
        const int seq = controller->receive_answer();
        const auto sent = inFlight.front();
        inFlight.pop_front();
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent.second).count());
        if (seq != sent.first) {
            state.SkipWithError("an answer out of order");
            break;
        }
        send();
    }
    while (!inFlight.empty()) {
        controller->receive_answer();
        inFlight.pop_front();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["p50_us"] = percentile(latencies, 0.50);
    state.counters["p99_us"] = percentile(latencies, 0.99);
}
BENCHMARK(PingRoundTrip)->Arg(1)->Arg(16)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ServerThread serverThread;
    Controller client(serverThread.port());
    server = &serverThread;
    controller = &client;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
