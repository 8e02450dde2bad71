// Controller round trips over loopback: one controller keeps a window of
// pings in flight to the server's real loop on a thread of this process, to
// the built server executable on its own simulated board, and to a bare
// TPKT echo server, the limit of a round trip here. Reports round trips per
// second (items_per_second), the median and 99th-percentile latency of a
// ping, from its send to its answer, and at the end the executable's round
// trips as a share of the echo server's at each window (medians when the
// runs are repeated). Also the executable's resident memory, idle, after
// 10,000 random commands and after 100,000 slot creates and destroys
// (idle_KiB, after_KiB, slots_KiB; slots_answered: the pairs answered with
// success).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback_link.h"
#include "link/heartbeat.h"
#include "tests/support/board_root.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Pings with seq 0..255, encoded beforehand.
std::vector<std::string> ping_frames() {
    std::vector<std::string> frames;
    LGCP::Command ping;
    ping.select_ping();
    for (int seq = 0; seq < 256; ++seq) frames.push_back(bench::frame(ping, seq));
    return frames;
}

std::vector<std::string> pings;

// A bare TPKT echo server in a process of its own, as the server executable
// is: it sends each whole frame back as soon as it has it, one send per
// frame, as a server answering each command at once would. Serves one
// controller. Made before any thread starts.
class EchoServer {
public:
    EchoServer() : listener_(test::listen_loopback(port_)) {
        BlockMode(listener_.get());
        pid_ = ::fork();
        if (pid_ == 0) {
            serve();
            ::_exit(0);
        }
        listener_.close();
    }
    ~EchoServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    unsigned short port() const { return port_; }

private:
    void serve() {
        Fd peer(::accept(listener_.get(), nullptr, nullptr));
        if (!peer) return;
        int on = 1;
        ::setsockopt(peer.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::vector<uint8_t> buffer(1 << 16);
        size_t held = 0;
        for (;;) {
            ssize_t n = ::recv(peer.get(), buffer.data() + held, buffer.size() - held, 0);
            if (n <= 0) return;
            held += static_cast<size_t>(n);
            size_t start = 0;
            while (held - start >= 4) {
                const size_t length = size_t(buffer[start + 2]) << 8 | buffer[start + 3];
                if (length < 4) return;  // not TPKT
                if (held - start < length) break;
                if (::send(peer.get(), &buffer[start], length, MSG_NOSIGNAL) != ssize_t(length))
                    return;
                start += length;
            }
            std::memmove(buffer.data(), &buffer[start], held - start);
            held -= start;
        }
    }

    unsigned short port_ = 0;
    Fd listener_;
    pid_t pid_ = -1;
};

// The built server executable on a free port, with a board of its own.
class ServerExecutable {
public:
    ServerExecutable()
        : port_(test::free_port()),
          process_(SERVER_EXECUTABLE, {"--port", std::to_string(port_)}) {
        if (!process_.wait_for_output("port=" + std::to_string(port_)))
            throw std::runtime_error("the server did not start:\n" + process_.output());
    }
    unsigned short port() const { return port_; }
    const test::BoardRoot& board() const { return board_; }
    test::ServerProcess& process() { return process_; }

private:
    test::BoardRoot board_;
    unsigned short port_;
    test::ServerProcess process_;
};

double percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    size_t k = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
    std::nth_element(values.begin(), values.begin() + k, values.end());
    return values[k];
}

void PingRoundTrip(benchmark::State& state, bench::Controller** target) {
    bench::Controller* controller = *target;
    const int window = static_cast<int>(state.range(0));
    std::deque<std::pair<int, Clock::time_point>> inFlight;
    std::vector<double> latencies;
    int next = 0;
    auto send = [&] {
        inFlight.emplace_back(next & 0xFF, Clock::now());
        controller->send(pings[static_cast<size_t>(next++) & 0xFF]);
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

bench::Controller* inProcess;
bench::Controller* executable;
bench::Controller* echo;
BENCHMARK_CAPTURE(PingRoundTrip, in_process, &inProcess)->Arg(1)->Arg(16)->UseRealTime();
BENCHMARK_CAPTURE(PingRoundTrip, executable, &executable)->Arg(1)->Arg(16)->UseRealTime();
BENCHMARK_CAPTURE(PingRoundTrip, echo, &echo)->Arg(1)->Arg(16)->UseRealTime();

// A command with no parameters.
LGCP::Command bare(LGCP::Command::Alternative alternative) {
    LGCP::Command command;
    command.setSelection(static_cast<int>(alternative), nullptr);
    command.createSelection();
    return command;
}

// Commands as a controller might send them, drawn at random: slots of every
// form of tests/support/controller_inputs.h (displays and ioctls among
// them) and endless players made on 64 numbers, wired, unwired and
// destroyed, and user data sent to them. Each field is as usual three times
// in four, else anywhere in its range.
class RandomCommands {
public:
    explicit RandomCommands(uint32_t seed) : random_(seed), forms_(test::every_form()) {}

    // The frame of the next command, with the sequence number `seq`.
    std::string next(int seq) {
        using Alternative = LGCP::Command::Alternative;
        switch (pick(8)) {
            case 0:
            case 1:
            case 2: {
                const test::CommandForm& form = *forms_[pick(forms_.size())];
                const LGCP::Command command = form.build(values(form));
                if (command.is_display()) return bench::frame(command, seq);
                return bench::frame(command, seq, slot());
            }
            case 3:
                return bench::frame(test::create_file_player({test::forms::kPhrase}, 0), seq,
                                    slot());
            case 4:
                return bench::frame(test::connect_command(slot()), seq, slot());
            case 5:
                return bench::frame(bare(Alternative::disconnect), seq, slot());
            case 6:
                return bench::frame(bare(Alternative::destroy), seq, slot());
            default:
                return bench::frame(test::user_data(std::vector<char>(pick(300), 'u')), seq,
                                    slot());
        }
    }

private:
    size_t pick(size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random_);
    }
    unsigned slot() { return static_cast<unsigned>(pick(64)); }
    test::CommandForm::Values values(const test::CommandForm& form) {
        test::CommandForm::Values out;
        for (const test::IntField& field : form.fields)
            out.push_back(pick(4) != 0 ? field.usual
                                       : std::uniform_int_distribution<int>(
                                             field.lowest, field.highest)(random_));
        return out;
    }
    std::mt19937 random_;
    std::vector<const test::CommandForm*> forms_;
};

// A slot of every creation form of tests/support/controller_inputs.h (but
// the QSIG B channel, which needs its QSIG slot) and an endless player in
// turn, each made as usual on one number and destroyed; counts the pairs
// answered with success.
class SlotChurn {
public:
    static constexpr unsigned kSlot = 100;  // none of the random commands' numbers

    SlotChurn() {
        creates_.push_back(test::create_file_player({test::forms::kPhrase}, 0));
        for (const test::CommandForm& form : test::creation_forms())
            if (form.target == nullptr && std::string(form.name) != "ats-qsig-b")
                creates_.push_back(form.build(form.usual()));
    }

    // Sends `count` pairs, each pair answered before the next, after a query
    // (the mixers take slots once they have been queried).
    void run(bench::Controller& controller, int count) {
        controller.send(bench::frame(bare(Alternative::query), 0));
        controller.receive_answer();
        for (int n = 0; n < count; ++n) {
            controller.send(bench::frame(creates_[size_t(n) % creates_.size()], 0, kSlot));
            controller.send(bench::frame(bare(Alternative::destroy), 1, kSlot));
            const bool created = controller.receive_answer() == 0;
            const bool destroyed = controller.receive_answer() == 1;
            answered_ += created && destroyed;
        }
    }
    int answered() const { return answered_; }

private:
    using Alternative = LGCP::Command::Alternative;
    std::vector<LGCP::Command> creates_;
    int answered_ = 0;
};

// The executable's resident memory once it serves a controller, after
// 10,000 random commands, each answered before the next, and after 100,000
// slot creates and destroys; its output is read on a thread of its own
// meanwhile, so that it never waits on a full pipe.
void ResidentMemory(benchmark::State& state) {
    for (auto _ : state) {
        ServerExecutable server;
        server.board().write_file(std::string("/usr/local/voice/") + test::forms::kPhrase,
                                  std::string(3000, 'p'));
        bench::Controller controller(server.port());
        controller.send(pings[0]);
        controller.receive_answer();
        state.counters["idle_KiB"] = double(server.process().usage().residentKib);

        std::atomic<bool> done{false};
        std::thread output([&] {
            while (!done) server.process().run_for(100);
        });
        RandomCommands commands(1);
        for (int n = 0; n < 10000; ++n) {
            controller.send(commands.next(n & 0xFF));
            controller.receive_answer();
        }
        state.counters["after_KiB"] = double(server.process().usage().residentKib);
        SlotChurn churn;
        churn.run(controller, 100000);
        state.counters["slots_KiB"] = double(server.process().usage().residentKib);
        state.counters["slots_answered"] = churn.answered();
        done = true;
        output.join();
    }
}
BENCHMARK(ResidentMemory)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The console's report, then the executable's round trips per second as a
// share of the echo server's at each window.
class ShareReporter : public benchmark::ConsoleReporter {
public:
    ShareReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            // A repeated run's median stands for it; a single run for itself.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            auto rate = run.counters.find("items_per_second");
            if (rate != run.counters.end())
                rates_[run.run_name.function_name][run.run_name.args] = rate->second;
        }
    }

    void Finalize() override {
        const auto& server = rates_["PingRoundTrip/executable"];
        const auto& bare = rates_["PingRoundTrip/echo"];
        for (const auto& [window, rate] : server) {
            auto reference = bare.find(window);
            if (reference == bare.end() || reference->second <= 0) continue;
            GetOutputStream() << "executable / echo server, window " << window << ": "
                              << rate / reference->second << "\n";
        }
        ConsoleReporter::Finalize();
    }

private:
    std::map<std::string, std::map<std::string, double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    EchoServer echoServer;
    bench::Controller echoClient(echoServer.port());
    ServerExecutable serverExecutable;  // before the loop thread touches the board
    bench::Controller executableClient(serverExecutable.port());
    bench::ServerThread server([] { CtrlSrv::ctrlServer.Bind(&HeartBeatCtl::instance()); });
    bench::Controller inProcessClient(server.port());
    inProcess = &inProcessClient;
    executable = &executableClient;
    echo = &echoClient;
    pings = ping_frames();
    ShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
