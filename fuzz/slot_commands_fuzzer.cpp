// Arbitrary sequences of slot commands (create, connect, disconnect,
// destroy, activate, ioctl, user data of 0 to 2000 octets) over a few
// numbers, scripted slots and the server's trunk, map and pass-through slots
// (whose timeslots and channels the creations mostly share, so that trunks
// replace trunks and maps destroy maps), or a slot of any creation form of
// the table of controller inputs with the edges of each field (every slot
// kind: signalling, data and mixer channels, voice players and recorders,
// RTP and radio streams, modems, T.38, and the forms no factory takes), and
// the table's ioctls likewise; mixed with slots finishing their shutdown,
// outputs going away, switch refusals and the controller going away; the
// server's whole chain of factories behind it. After every step the graph
// holds together, the trunk and map factories name only live slots, and the
// switch carries what the graph shows; every command is answered exactly
// once (a delayed destroy when its slot finishes); at the end nothing is
// left. The board's child programs are missing: each one started ends at
// once.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "board/sim/sim_board.h"
#include "fuzz/controller_draws.h"
#include "fuzz/pair_link.h"
#include "hardware/hw_mux.h"
#include "link/control_links.h"
#include "link/ctrl_server.h"
#include "link/heartbeat.h"
#include "runtime/child_wait.h"
#include "server/slot_factories.h"
#include "slots/mixer_factory.h"
#include "slots/slots.h"
#include "tests/support/board_root.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/loopback.h"
#include "tests/support/test_controller.h"
#include "tests/support/test_slots.h"
#include "tests/support/tpkt.h"
#include "tests/support/virtual_loop.h"

namespace {

using Alternative = LGCP::Command::Alternative;

constexpr unsigned kNumbers = 6;
constexpr int kScripts = 8;
// The steps that make a media slot, send user data or a receiver ioctl, as
// drawn.
constexpr unsigned kMediaCreation = 12;
constexpr unsigned kUserData = 14;
constexpr unsigned kReceiverIoctl = 15;
// A creation of any form with any value of its fields.
constexpr int kAnyMediaForm = 4;

const ControllerDraws::Forms& ioctl_forms() {
    static const ControllerDraws::Forms forms = test::forms_of(Alternative::ioctl);
    return forms;
}

// What the server logged during the current input.
std::ostringstream serverLog;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "%s\nslot_commands_fuzzer: %s\n", serverLog.str().c_str(), why.c_str());
    std::abort();
}

// The board's files: a phrase for the file players, no child program. The
// dial-in authentication program's port is a free one.
struct BoardFiles {
    BoardFiles() {
        root.write_file(std::string("/usr/local/voice/") + test::forms::kPhrase,
                        std::string(3000, 'p'));
        ::setenv("BOARD_AUTH_PORT", std::to_string(test::free_port()).c_str(), 1);
    }
    test::BoardRoot root;
};

struct Server {
    Server() {
        // The server's lines would drown the fuzzer's; they are shown on a failure.
        std::cout.rdbuf(serverLog.rdbuf());
        std::cerr.rdbuf(serverLog.rdbuf());
        std::clog.rdbuf(serverLog.rdbuf());
        CtrlSrv::ctrlServer.Bind(&HeartBeatCtl::instance());
        CtrlSrv::ctrlServer.Bind(Slots::instance());
        CtrlSrv::ctrlServer.Activate(link = new PairLink);
        ChildWait::Activate();
        CreateSlotFactories();
    }
    BoardFiles board;
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    PairLink* link;
};

// The scripts of each input, with the scripted slots' channels counted
// from the first again (on bus 0, clear of the media slots' channels).
void script_slots() {
    test::TestSlotFactory& factory = test::TestSlotFactory::instance();
    factory.reset();
    factory.scripts[1].shutdown = test::Shutdown::WhenTold;
    factory.scripts[2].shutdown = test::Shutdown::OnTimer;
    factory.scripts[3].shutdown = test::Shutdown::Never;
    factory.scripts[3].sideList = true;
    factory.scripts[4].refuse = true;
    factory.scripts[4].priority = 1;
    factory.scripts[5].output = false;
    factory.scripts[6].input = false;
    factory.scripts[6].priority = -1;
    factory.scripts[7].invalid = true;
}

// A trunk or map slot on a few shared timeslots and bus channels, a
// pass-through slot on channels of its number's own, or any of them with any
// values.
LGCP::Command media_creation(FuzzedDataProvider& input, unsigned number) {
    auto busChannel = [&]() -> std::optional<test::BusChannel> {
        if (input.ConsumeBool()) return std::nullopt;
        return test::BusChannel{15, input.ConsumeIntegralInRange<unsigned>(0, 2)};
    };
    switch (input.ConsumeIntegralInRange(0, kAnyMediaForm)) {
        case 0:
            return test::create_trunk(1, input.ConsumeIntegralInRange<unsigned>(0, 2));
        case 1:
            return test::create_trunk_bri(0, input.ConsumeIntegralInRange<unsigned>(0, 1));
        case 2: {
            auto transmitter = busChannel();
            return test::create_map(transmitter, busChannel());
        }
        case 3:
            return test::create_ext(1900 + static_cast<int>(number),
                                    1950 + static_cast<int>(number));
        default:
            return ControllerDraws::draw_command(input, test::creation_forms());
    }
}

// The controller's end: sends commands with fresh seqs and checks that each
// is answered once.
class Controller {
public:
    explicit Controller(Server& server) : server_(server) { attach(); }

    void attach() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
            fail("no socket pair");
        Fd ours(pair[0]);
        socket_ = Fd(pair[1]);
        server_.link->take(ours);
        reader_ = test::TpktReader();
        unanswered_.clear();
    }

    void send(const LGCP::Command& command, unsigned slot) {
        const int seq = nextSeq_++;
        unanswered_[seq] = command.selection() == Alternative::destroy;
        test::write_bytes(socket_.get(), test::command_frame(command, seq, slot));
        settle();
    }

    // Pumps, reads what came and checks the answers: only a destroy may
    // stay unanswered (its slot finishes later).
    void settle() {
        for (int pass = 0; pass < 10; ++pass) {
            server_.loop.pump();
            take_answers();
            if (!awaiting_immediate()) return;
        }
        fail("a command unanswered");
    }

    // The controller goes; its pending destroys are never answered.
    void leave() {
        server_.link->Disconnect();
        server_.loop.pump(2);  // the link reports it on a later pass
    }

private:
    void take_answers() {
        reader_.feed(test::read_available(socket_.get()));
        std::string payload;
        while (reader_.next(payload)) {
            LGCP::Message message;
            if (!test::decode(payload, message)) fail("an undecodable frame");
            if (!test::is_response(message)) continue;
            auto seq = test::seq_of(message);
            if (!seq || !unanswered_.count(*seq)) fail("an answer to nothing, or a second one");
            unanswered_.erase(*seq);
        }
    }
    bool awaiting_immediate() const {
        for (const auto& entry : unanswered_)
            if (!entry.second) return true;
        return false;
    }

    Server& server_;
    Fd socket_;
    test::TpktReader reader_;
    std::map<int, bool> unanswered_;  // seq -> is a destroy
    int nextSeq_ = 0;
};

void check_sound() {
    if (multiplexer.terminated()) fail("the loop was stopped");
    if (std::string faults = test::graph_faults(); !faults.empty()) fail("graph: " + faults);
    auto* fabric =
        board::sim::Board::instance().model_as<board::sim::HalModel>(board::hal::kDevice);
    if (std::string faults = test::switch_faults(*fabric); !faults.empty())
        fail("switch: " + faults);
}

void step(FuzzedDataProvider& input, Server& server, Controller& controller) {
    const unsigned op = input.ConsumeIntegralInRange<unsigned>(0, kReceiverIoctl);
    const unsigned number = input.ConsumeIntegralInRange<unsigned>(0, kNumbers - 1);
    switch (op) {
        case 0:
        case 1:
            controller.send(test::create_command(input.ConsumeIntegralInRange<int>(0, kScripts)),
                            number);
            break;
        case 2:
        case 3:
            controller.send(
                test::connect_command(input.ConsumeIntegralInRange<unsigned>(0, kNumbers)), number);
            break;
        case 4:
            controller.send(test::command(Alternative::disconnect), number);
            break;
        case 5:
            controller.send(test::command(Alternative::destroy), number);
            break;
        case 6: {
            LGCP::Command command;
            if (input.ConsumeBool())
                command.select_activate().select_empty();
            else
                command.select_ioctl().select_ss7RqBSN();
            controller.send(command, number);
            break;
        }
        case 7:  // a shutdown that waits ends now, timed ones when due
            if (test::ScriptedSlot* slot = test::scripted(number); slot && slot->shutting_down())
                slot->finish();
            server.loop.advance(100);
            controller.settle();
            break;
        case 8:
            if (Slot* slot = Slots::instance()->at(number)) slot->OnChangeOutputStream(false);
            controller.settle();
            break;
        case 9:  // the switch refuses the next connections
            board::sim::Board::instance().fail_next(board::sim::Op::Ioctl, board::hal::kDevice, EIO,
                                                    board::hal::kMuxConnect,
                                                    input.ConsumeIntegralInRange<int>(1, 2));
            break;
        case 10:
            controller.leave();
            if (std::string left = test::leftovers(); !left.empty()) fail("after leaving: " + left);
            controller.attach();
            break;
        case 11:
            controller.send(test::command(Alternative::deactivate), number);
            break;
        case kUserData:
            controller.send(test::user_data(ControllerDraws::draw_user_data(input)), number);
            break;
        case kReceiverIoctl:
            controller.send(ControllerDraws::draw_command(input, ioctl_forms()), number);
            break;
        default:
            controller.send(media_creation(input, number), number);
            break;
    }
    check_sound();
}

// A creation row as the first step; an ioctl row after the creation of
// its slot, made as usual, and a user data row likewise.
std::optional<std::string> seed_of(const test::ControllerInput& row) {
    const char* target = row.user_data() ? nullptr : test::form(row.form).target;
    ControllerDraws::SeedWriter out;
    out.integral_in_range(0u, kReceiverIoctl, kMediaCreation);
    out.integral_in_range(0u, kNumbers - 1, 0u);
    out.integral_in_range(0, kAnyMediaForm, kAnyMediaForm);
    const test::ControllerInput slot{target, "", 0, {}};
    if (!ControllerDraws::put_command(out, test::creation_forms(), target ? slot : row))
        return std::nullopt;
    if (row.user_data()) {
        out.integral_in_range(0u, kReceiverIoctl, kUserData);
        out.integral_in_range(0u, kNumbers - 1, 0u);
        ControllerDraws::put_user_data(out, static_cast<size_t>(row.value));
    } else if (target) {
        out.integral_in_range(0u, kReceiverIoctl, kReceiverIoctl);
        out.integral_in_range(0u, kNumbers - 1, 0u);
        ControllerDraws::put_command(out, ioctl_forms(), row);
    }
    return out.input();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    ControllerDraws::write_seeds_if_asked(*argc, *argv, seed_of);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Server server;
    serverLog.str(std::string());
    script_slots();
    // The board's mixer units, known as after the controller's first query.
    Mixer::MixerFactory::instance().reset_for_test();
    Mixer::MixerFactory::instance().RefreshResources();
    Controller controller(server);
    FuzzedDataProvider input(data, size);
    for (int steps = 0; steps < 64 && input.remaining_bytes() > 0; ++steps)
        step(input, server, controller);

    controller.leave();
    if (std::string left = test::leftovers(); !left.empty()) fail("at the end: " + left);
    // Refusals not used up go with the board's state; the devices open again.
    board::sim::Board::instance().reset();
    test::HardwareReset::reset_all();
    return 0;
}
