#pragma once
// What the modem suites start from: the slot fixture with the modem factory
// fresh on its own auth port, child reaping in the loop, and helpers to
// create modem slots, wait for their children (real processes) and talk
// to the authentication link as its program would.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "board/drivers/mcc.h"
#include "board/drivers/mctl.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mctl_model.h"
#include "runtime/child_wait.h"
#include "slots/dsp_modem_slot.h"
#include "slots/modem_factory.h"
#include "tests/slots/slot_fixture.h"
#include "tests/support/deadline.h"
#include "tests/support/loopback.h"
#include "tests/support/stand_ins.h"

namespace test {

// Outlives the slot fixture: the auth port is chosen before the factory
// opens it, and reaping stops after the last slot went.
class ModemEnvironment {
protected:
    ModemEnvironment() : authPort(free_port()) {
        ::setenv("BOARD_AUTH_PORT", std::to_string(authPort).c_str(), 1);
    }
    ~ModemEnvironment() {
        EXPECT_TRUE(ModemFactory::instance().modemSlots().empty());
        ChildWait::Deactivate();
        ModemFactory::instance().reset_for_test();  // its connections go
    }
    const unsigned short authPort;
};

class ModemTest : public ModemEnvironment, public SlotTest {
protected:
    const std::string kT38 = "/usr/local/sbin/t38";

    ModemTest() {
        modems.reset_for_test();
        mctl().log.clear();  // the factory's enumeration
        ChildWait::Activate();
    }

    static board::sim::MctlModel& mctl() {
        return *sim().model_as<board::sim::MctlModel>(board::mctl::kDevice);
    }
    // The multi-channel controller, whose channels the T.38 slots take.
    static board::sim::MccModel& channels() {
        return *sim().model_as<board::sim::MccModel>(board::mcc::kDevice);
    }
    static TERM::ModemParams params(const std::string& cid = "") {
        TERM::ModemParams p;
        p.set_cid(cid);
        return p;
    }
    static LGCP::Command create_modem(const TERM::ModemParams& p) {
        LGCP::Command command;
        command.select_create().select_modem() = p;
        return command;
    }
    static LGCP::Command create_t38(unsigned args = 0, int rxPacketSize = 160) {
        LGCP::Command command;
        LGCP::T38Soft& p = command.select_create().select_t38soft();
        p.get_dhost().set_iaddr("10.0.0.5");
        p.get_dhost().set_port(4000);
        p.get_shost().set_iaddr("10.0.0.6");
        p.get_shost().set_port(5000);
        p.set_rx_packet_size(rxPacketSize);
        p.set_rx_threshold(2);
        p.set_tx_threshold(3);
        for (unsigned i = 0; i < args; ++i) p.get_args().push_back(ASN1::IA5String("a" + std::to_string(i)));
        return command;
    }
    // Where a board path is on this host.
    std::string host(const std::string& boardPath) { return server.board().dir() + boardPath; }
    static DspModemSlot* modem_at(unsigned number) {
        return dynamic_cast<DspModemSlot*>(Slots::instance()->at(number));
    }
    // The answer to a command; the signals that come before it are kept
    // for signal().
    std::optional<Cause> ask(const LGCP::Command& command, unsigned slot) {
        controller.send(command, 1, slot);
        std::optional<LGCP::Message> reply;
        pump_until([&] {
            while (auto m = controller.receive(1)) {
                if (is_response(*m)) return bool(reply = m);
                seen_.push_back(*m);
            }
            return false;
        });
        EXPECT_TRUE(reply);
        return reply ? error_of(*reply) : Cause::internal;
    }
    // A modem slot at `number` fed by a scripted slot at `number` + 100: its
    // modem is set up.
    void create_connected(unsigned number, const TERM::ModemParams& p) {
        ASSERT_EQ(std::nullopt, ask(create_modem(p), number));
        ASSERT_EQ(std::nullopt, ask(create_command(0), number + 100));
        ASSERT_EQ(std::nullopt, ask(connect_command(number), number + 100));
    }
    // Pumps until `done` holds, for at most `ms` of real time (another
    // process is awaited).
    bool pump_until(const std::function<bool()>& done, int ms = 5000) {
        Deadline deadline(ms);
        while (!done()) {
            if (deadline.passed()) return false;
            server.pump();
            ::usleep(1000);
        }
        return true;
    }
    // The argument vector a stand-in recorded (in one write).
    std::vector<std::string> argv_of(const std::string& program, int pid) {
        const std::string record = program + "." + std::to_string(pid);
        std::string text;
        EXPECT_TRUE(pump_until([&] { return !(text = server.board().read_file(record)).empty(); }))
            << record;
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }
    // The first signal of a kind (for a slot) not taken yet, pumping until
    // it came.
    std::optional<LGCP::Signal> signal(LGCP::Signal::Alternative kind,
                                       std::optional<unsigned> slot = {}) {
        auto wanted = [&](const LGCP::Message& message) {
            const LGCP::Signal* s = message.get_pdu().get_signal();
            return s && s->selection() == kind && (!slot || slot_of(message) == slot);
        };
        std::optional<LGCP::Signal> found;
        pump_until([&] {
            while (auto m = controller.receive(1)) seen_.push_back(*m);
            auto at = std::find_if(seen_.begin(), seen_.end(), wanted);
            if (at == seen_.end()) return false;
            found = *at->get_pdu().get_signal();
            seen_.erase(at);
            return true;
        });
        return found;
    }
    // The resources report of a `query`.
    std::optional<LGCP::Resources> resources() {
        controller.send(test::command(Alternative::query), 1);
        auto s = signal(LGCP::Signal::Alternative::query);
        return s ? std::optional<LGCP::Resources>(*s->get_query()) : std::nullopt;
    }
    std::optional<int> abort_signal() {
        auto s = signal(LGCP::Signal::Alternative::abort);
        return s ? std::optional<int>(s->get_abort()->getValue()) : std::nullopt;
    }
    // An activation with the user's network parameters, or an empty one.
    static LGCP::Command activate(bool modem = true) {
        LGCP::Command command;
        if (!modem) {
            command.select_activate().select_empty();
            return command;
        }
        TERM::ModemUserParameters& user = command.select_activate().select_modem();
        user.set_remoteAddr("10.0.0.2");
        user.set_netmask("255.255.255.0");
        user.set_gateway("10.0.0.1");
        user.set_dns("not an address");
        user.set_mtu(1500);
        return command;
    }
    // The accept and IP-parameters records that answer activate() for `session`.
    static std::string activation_answer(uint32_t session) {
        return word(16) + word(2) + word(session) + word(1) + word(36) + word(3) + word(session) +
               word(0) + word(0x0A000002) + word(0xFFFFFF00) + word(0x0A000001) + word(0xFFFFFFFF) +
               word(1500);
    }
    // The program sends `bytes`; pumps until the server logged `line`.
    void say(const Fd& fd, const std::string& bytes, const std::string& line) {
        ASSERT_TRUE(write_bytes(fd.get(), bytes));
        EXPECT_TRUE(pump_until([&] { return (errors.str() + progress.str()).find(line) != std::string::npos; }))
            << line;
    }
    // A connection of the authentication program, accepted by the server.
    Fd auth_connect() {
        const size_t before = modems.connections();
        Fd fd = connect_loopback_now(authPort);
        EXPECT_TRUE(pump_until([&] { return modems.connections() > before; }));
        return fd;
    }

    ModemFactory& modems = ModemFactory::instance();
    std::deque<LGCP::Message> seen_;
};

// The processes this one started that are not reaped yet, as /proc shows them.
inline std::vector<pid_t> child_processes() {
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // "pid (name) state ppid ...": the name may hold anything but ends at the last ')'.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        std::string state;
        pid_t parent = 0;
        if (rest >> state >> parent && parent == ::getpid())
            children.push_back(std::stoi(entry.path().filename().string()));
    }
    return children;
}

inline size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
    return n;
}

}  // namespace test
