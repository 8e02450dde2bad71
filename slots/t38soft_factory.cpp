#include "slots/t38soft_factory.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "board/devio.h"
#include "board/drivers/mcc.h"
#include "board/paths.h"
#include "runtime/fd.h"

namespace mcc = board::mcc;

namespace {

constexpr const char* kProgram = "/usr/local/sbin/t38";
// The controller's own arguments after "--child --remote <peer>".
constexpr unsigned kMaxArgs = 27;
// The program's exit status when it cannot be executed.
constexpr int kExecFailed = 237;
// How long the loop waits for the program's count before it reports
// what it knows.
constexpr unsigned kCountLimitMs = 3000;
// What the count's child answers when the program cannot be executed (a
// count is a number).
constexpr const char* kNotExecuted = "not executed";

// "<peer address>/<peer port>/<own port>"
std::string Remote(const LGCP::T38Soft& params) {
    return std::string(params.get_dhost().get_iaddr()) + "/" +
           std::to_string(params.get_dhost().get_port().getValue()) + "/" +
           std::to_string(params.get_shost().get_port().getValue());
}

ChildProgram T38Program(const LGCP::T38Soft& params, int channel) {
    ChildProgram t38;
    t38.argv = {board::path(kProgram), "--child", "--remote", Remote(params)};
    const auto& args = params.get_args();
    for (unsigned i = 0; i < std::min(args.size(), kMaxArgs); ++i) t38.argv.push_back(args[i]);
    t38.failStatus = kExecFailed;
    t38.input = channel;
    return t38;
}

// The driver takes these as unsigned words.
bool Negative(const LGCP::T38Soft& params) {
    return params.get_rx_packet_size().getValue() < 0 || params.get_rx_threshold().getValue() < 0 ||
           params.get_tx_threshold().getValue() < 0;
}

void LogFailure(const char* what) {
    std::cerr << "T38SoftFactory::INewSlot - FAIL to " << what << " [" << errno << "]" << std::endl;
}

}  // namespace

// ---- T38SoftSlot

T38SoftSlot::T38SoftSlot(int pid, int timeslot) : timeslot_(timeslot) {
    program_.Watch(pid, &T38SoftSlot::OnT38Terminate, this);
    HoldChannel(timeslot);
}

std::ostream& T38SoftSlot::PutHeader(std::ostream& os) const { return os << *this << ": "; }

void T38SoftSlot::IAfterCreate() {
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy() {
    if (!program_.running()) return true;
    program_.Stop<Slot>(SIGTERM, "TERM", &Slot::on_release, this);
    return false;
}

void T38SoftSlot::OnT38Terminate(int status) {
    const int low = status & 0x7F;
    if (low == 0)
        PutHeader(std::clog) << "t38 daemon terminated with code=" << ((status >> 8) & 0xFF)
                             << std::endl;
    else if (low != 0x7F)
        PutHeader(std::clog) << "t38 daemon terminated by signal=" << low << std::endl;
    program_.Ended();
    if (destroying()) return on_release();
    // The program held the channel's last descriptor: the driver has freed it.
    LetGoOfHardware(Loss::abort, status);
}

// ---- T38SoftFactory

std::ostream& T38SoftFactory::PutHeader(std::ostream& os) const { return os << "t38soft: "; }

Slot* T38SoftFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::T38Soft* p = params.get_t38soft();
    if (!p) return nullptr;
    if (Negative(*p)) return invalidParams("a negative packet size or threshold");
    Fd channel(board::open(mcc::kDevice, O_RDWR | O_CLOEXEC));
    if (!channel) {
        LogFailure("open </dev/mcc/ctl>");
        return nullptr;
    }
    mcc::mcc_allocation record{mcc::kTransparent,
                               static_cast<uint32_t>(p->get_rx_packet_size().getValue()), 0,
                               static_cast<uint32_t>(p->get_rx_threshold().getValue()),
                               static_cast<uint32_t>(p->get_tx_threshold().getValue())};
    if (board::ioctl(channel.get(), mcc::MCC_ALLOCATE, &record) < 0) {
        LogFailure("ioctl MCC_ALLOCATE");
        return nullptr;
    }
    const int timeslot = board::ioctl_value(channel.get(), mcc::MCC_TIMESLOT, 0);
    if (timeslot < 0) {
        LogFailure("ioctl MCC_TIMESLOT");
        return nullptr;
    }
    const ChildProgram t38 = T38Program(*p, channel.get());
    PutHeader(std::clog) << "args for run t38 daemon:" << std::endl;
    for (size_t i = 0; i < t38.argv.size(); ++i)
        std::clog << "arg[" << i << "]=" << t38.argv[i] << std::endl;
    const pid_t pid = StartChild(t38);
    if (pid < 0) return nullptr;
    PutHeader(std::clog) << "t38 daemon[" << pid << "] successfully started" << std::endl;
    // The program keeps its own copy of the channel; the server's closes here.
    return new T38SoftSlot(pid, timeslot);
}

// The registry asks again only once the report it waits for has gone.
void T38SoftFactory::PrepareQuery(std::function<void()> ready) {
    ready_ = std::move(ready);
    if (!QueryNumOfInstances()) Counted(instances_);
}

void T38SoftFactory::Query(LGCP::Resources& resources) {
    resources.set_t38_instances(instances_);
}

// A missing program is known without a child: it counts 0. One that
// cannot be started now (no descriptor or process free) or executed (being
// written by an upgrade) leaves the count known before.
bool T38SoftFactory::QueryNumOfInstances() {
    ChildProgram count;
    count.argv = {board::path(kProgram), "--num-of-instances"};
    count.failure = kNotExecuted;
    count.failStatus = kExecFailed;
    if (::access(count.argv[0].c_str(), X_OK) != 0) {
        if (notFound_.admit())
            PutHeader(std::clog) << "t38 daemon not found!" << notFound_ << std::endl;
        instances_ = 0;
        return false;
    }
    auto answer = [this](bool answered, const std::string& text) { OnCount(answered, text); };
    if (count_.Start(count, kCountLimitMs, answer)) return true;
    const int error = errno;
    PutHeader(std::cerr) << "t38: count not started: " << std::strerror(error) << ", reporting "
                         << instances_ << std::endl;
    return false;
}

// Past the limit the count known from before stands.
void T38SoftFactory::OnCount(bool answered, const std::string& text) {
    if (!answered) {
        PutHeader(std::cerr) << "t38: no count within " << kCountLimitMs << " ms, reporting "
                             << instances_ << std::endl;
        return Counted(instances_);
    }
    if (text == std::string(kNotExecuted) + "\n") {
        PutHeader(std::cerr) << "t38: count not started: the program could not be executed, "
                             << "reporting " << instances_ << std::endl;
        return Counted(instances_);
    }
    if (text.empty()) {
        PutHeader(std::clog) << "t38: can't detect T38 resources" << std::endl;
        return Counted(0);
    }
    const long count = std::strtol(text.c_str(), nullptr, 10);
    Counted(static_cast<int>(std::clamp<long>(count, INT_MIN, INT_MAX)));
}

void T38SoftFactory::reset_for_test() {
    instances_ = 0;
    notFound_ = LogThrottle();
}

void T38SoftFactory::Counted(int instances) {
    instances_ = instances;
    const std::function<void()> ready = std::move(ready_);
    ready_ = nullptr;
    if (ready) ready();
}
