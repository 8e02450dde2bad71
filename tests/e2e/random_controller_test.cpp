// A controller of every slot kind, drawn at random with a fixed seed, on
// the server executable: slots of every creation form of the table of
// controller inputs (tests/support/controller_inputs.h), with the values a
// controller of this board picks, on 16 numbers; connects, disconnects and
// destroys, mostly of live slots; activations, user data and the table's
// ioctls; and now and then the controller cut and another one connecting.
//
// The switch refuses no request ("mux: ... refused"), and no two live slots
// announce the same channel (their transmitter or receiver signal), unless
// one of them lost its hardware (it aborted, or it is a B channel whose
// QSIG slot went), the controller named both channels itself (trunks, maps,
// pass-throughs, echo), or both are slots of one mixer channel. The switch
// paths the server logs go with their owners: none is left to a slot that
// was destroyed, none comes from a slot that lost its hardware, and none is
// left once the controller is cut. What it saw is reported: each kind of
// fault once, how often it came, and the commands before it came first.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/e2e/server_binary.h"
#include "tests/support/controller_inputs.h"
#include "tests/support/deadline.h"
#include "tests/support/remote_controller.h"
#include "tests/support/stand_ins.h"

namespace {

using Alternative = LGCP::Command::Alternative;
using Cause = LGCP::ErrorCause::NamedNumber;
using test::CommandForm;

// The numbers the controller uses.
constexpr unsigned kFirstNumber = 16;
constexpr unsigned kNumbers = 16;
constexpr int kCommands = 1000;
// About one command in so many cuts the controller off.
constexpr unsigned kCutEvery = 300;
// Commands shown before a fault.
constexpr size_t kContext = 12;
// How long an answer may take; a controller the server refuses hears
// nothing for this long.
constexpr int kAnswerMs = test::RemoteController::default_timeout_ms;
constexpr int kRefusedMs = 1000;

// Two slots of these forms on one channel are the controller's choice.
bool NamesItsChannels(const CommandForm& form) {
    for (const char* name : {"trunk", "trunk bri", "map", "ext", "echo"})
        if (name == std::string(form.name)) return true;
    return false;
}

bool IsMixerChannel(const CommandForm& form) {
    return form.name == std::string("mixer input") || form.name == std::string("mixer output");
}

bool IsQsig(const CommandForm& form) {
    return std::string(form.name).rfind("ats-qsig ", 0) == 0;
}

// Its first field names its QSIG slot.
bool IsBChannel(const CommandForm& form) {
    return form.name == std::string("ats-qsig-b");
}

std::string CauseName(Cause cause) {
    LGCP::ErrorCause named;
    named.setValue(cause);
    std::ostringstream text;
    text << named;
    return text.str();
}

std::string Describe(const CommandForm& form, const CommandForm::Values& values) {
    std::string text = form.name;
    for (size_t i = 0; i < values.size(); ++i)
        text += std::string(i == 0 ? " " : ", ") + form.fields[i].name + "=" +
                std::to_string(values[i]);
    return text;
}

// A live slot as the controller knows it.
struct Known {
    const CommandForm* form;
    CommandForm::Values values;
    int created;                           // by this command
    std::optional<int> transmit, receive;  // the channels it announced
    bool lost = false;

    std::string name(unsigned number) const {
        return std::to_string(number) + " (" + Describe(*form, values) + ", made by #" +
               std::to_string(created) + ")";
    }
};

// Each kind of fault once, with how often it came and where first.
class Faults {
public:
    void add(const std::string& kind, const std::string& first) {
        Entry& entry = seen_[kind];
        if (entry.count++ == 0) entry.first = first;
    }
    bool empty() const { return seen_.empty(); }
    std::string report() const {
        std::ostringstream out;
        for (const auto& [kind, entry] : seen_)
            out << "- " << kind << " (" << entry.count << " times); first:\n"
                << entry.first << "\n";
        return out.str();
    }

private:
    struct Entry {
        unsigned count = 0;
        std::string first;
    };
    std::map<std::string, Entry> seen_;
};

// The switch's paths as the server logs them, by the channel they feed:
// the source and the owners that switched it ("16:rtp", "hdlc channel
// 5120"). A "mux: slot" or "mux: hdlc channel" line makes a path (in place
// of one from another source), "mux: disconnect" breaks it, and an owner
// that "leaves" it to another owns it no more.
class Paths {
public:
    // Follows one line of the server's; what it breaks that another owner
    // has, or "".
    std::string follow(const std::string& line) {
        static const std::regex made(R"(mux: slot .+? \[(-?\d+)\] -> (.+) \[(\d+)\])"),
            madeByChannel(R"(mux: (hdlc channel \d+) \[(-?\d+)\] -> \[(\d+)\])"),
            broken(R"(mux: disconnect (?:slot )?(.+) \[(\d+)\])"),
            left(R"(mux: (.+) leaves \[(\d+)\] to .+)");
        std::smatch m;
        if (std::regex_match(line, m, made)) make(std::stoi(m[3]), std::stoi(m[1]), m[2]);
        if (std::regex_match(line, m, madeByChannel)) make(std::stoi(m[3]), std::stoi(m[2]), m[1]);
        if (std::regex_match(line, m, broken)) return breaks(std::stoi(m[2]), m[1]);
        if (std::regex_match(line, m, left))
            if (auto path = open_.find(std::stoi(m[2])); path != open_.end())
                path->second.owners.erase(m[1]);
        return "";
    }
    // The paths that an owner whose name begins with `owner` has, or that
    // a slot has from channel `source`; "" when none. (The HDLC channel of a
    // PSTN slot unwired from its source keeps hearing it.)
    std::string of(const std::string& owner, std::optional<int> source = std::nullopt) const {
        std::string text;
        for (const auto& [rx, path] : open_) {
            const bool bySlot = path.owners.size() > Named(path, "hdlc ");
            if (Named(path, owner) || (path.source == source && bySlot)) text += describe(rx, path);
        }
        return text;
    }
    // Every path, also one that its owners left without breaking it.
    std::string all() const {
        std::string text;
        for (const auto& [rx, path] : open_) text += describe(rx, path);
        return text;
    }

private:
    struct Path {
        int source = -1;
        std::set<std::string> owners;
    };
    void make(int rx, int tx, const std::string& owner) {
        Path& path = open_[rx];
        if (path.source != tx) path = Path{tx, {}};
        path.owners.insert(owner);
    }
    std::string breaks(int rx, const std::string& by) {
        const auto path = open_.find(rx);
        if (path == open_.end()) return "";
        const std::string text = path->second.owners.count(by) || path->second.owners.empty()
                                     ? ""
                                     : by + " breaks" + describe(rx, path->second);
        open_.erase(path);
        return text;
    }
    // How many of the path's owners have a name that begins with `start`.
    static size_t Named(const Path& path, const std::string& start) {
        return std::count_if(path.owners.begin(), path.owners.end(),
                             [&](const std::string& owner) { return owner.rfind(start, 0) == 0; });
    }
    static std::string describe(int rx, const Path& path) {
        std::string text = " [" + std::to_string(rx) + "] <- [" + std::to_string(path.source) + "]";
        for (const std::string& owner : path.owners) text += " " + owner;
        return text + ";";
    }
    std::map<int, Path> open_;
};

class RandomController {
public:
    RandomController(test::ServerProcess& server, unsigned short port, uint32_t seed)
        : server_(server), port_(port), random_(seed) {}

    // False when the server stopped answering.
    bool run(int commands) {
        connect();
        for (index_ = 1; index_ <= commands && answered_; ++index_) {
            if (pick(kCutEvery) == 0) cut();
            if (answered_) step();
        }
        return answered_;
    }

    // What the server logged while it stopped, destroying the slots.
    void stopped() {
        pending_ = "the server stops";
        scan_log();
        expect_no_paths("the server stops");
    }

    const Faults& faults() const { return faults_; }
    // The cuts, and the slots made of each form with those that announced a
    // channel.
    std::string summary() const {
        std::string text = std::to_string(cuts_) + " cuts; slots made (announcing a channel):";
        for (const auto& [form, counts] : made_)
            text += " " + form + " " + std::to_string(counts.first) + " (" +
                    std::to_string(counts.second) + "),";
        text.back() = '.';
        return text;
    }

private:
    size_t pick(size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random_);
    }
    unsigned any_number() { return kFirstNumber + static_cast<unsigned>(pick(kNumbers)); }
    // A live slot's number nine times in ten.
    unsigned some_number() {
        if (live_.empty() || pick(10) == 0) return any_number();
        auto at = live_.begin();
        std::advance(at, pick(live_.size()));
        return at->first;
    }
    // As the form's fields are picked; a B channel names a live QSIG slot
    // where there is one.
    CommandForm::Values values(const CommandForm& form) {
        CommandForm::Values out;
        for (const test::IntField& field : form.fields)
            out.push_back(field.picked ? std::uniform_int_distribution<int>(
                                             field.picked->lowest, field.picked->highest)(random_)
                                       : field.usual);
        if (IsBChannel(form))
            for (const auto& [number, slot] : live_)
                if (IsQsig(*slot.form)) out[0] = static_cast<int>(number);
        return out;
    }

    // Three in ten a creation, three a connect; then destroys, disconnects,
    // (de)activations, user data and ioctls.
    void step() {
        const size_t draw = pick(20);
        if (draw < 6) return create();
        const unsigned number = some_number();
        if (draw < 12) {
            const unsigned target = some_number();
            ask(test::connect_command(target), number, "connect to " + std::to_string(target));
        } else if (draw < 15) {
            const std::optional<Cause> error =
                ask(test::command(Alternative::destroy), number, "destroy");
            if (answered_ && error != Cause::destroyInProgress) forget(number);
        } else if (draw < 17) {
            ask(test::command(Alternative::disconnect), number, "disconnect");
        } else if (draw < 18) {
            if (pick(2))
                ask(test::activate(), number, "activate");
            else
                ask(test::command(Alternative::deactivate), number, "deactivate");
        } else if (draw < 19) {
            const size_t octets = pick(100);
            ask(test::user_data(std::vector<char>(octets, 'u')), number,
                std::to_string(octets) + " octets of user data");
        } else {
            static const std::vector<CommandForm> ioctls = test::forms_of(Alternative::ioctl);
            const CommandForm& form = ioctls[pick(ioctls.size())];
            ask(form.build(form.usual()), number, std::string("ioctl ") + form.name);
        }
    }

    void create() {
        const std::vector<CommandForm>& forms = test::creation_forms();
        const CommandForm& form = forms[pick(forms.size())];
        const CommandForm::Values v = values(form);
        const unsigned number = any_number();
        const std::optional<Cause> error =
            ask(form.build(v), number, "create " + Describe(form, v));
        if (answered_) created(number, form, v, error);
    }

    // A new controller, which learns the board's resources first.
    void connect() {
        for (test::Deadline deadline(test::RemoteController::default_timeout_ms);
             !deadline.passed();) {
            controller_ = std::make_unique<test::RemoteController>();
            // Refused while the server has not yet seen the last one go.
            if (!controller_->connect(port_)) break;
            ask(test::command(Alternative::query), std::nullopt, "query", kRefusedMs);
            if (answered_) return;
        }
        ADD_FAILURE() << "no controller gets in\n" << server_.output();
    }

    void cut() {
        ++cuts_;
        controller_.reset();
        trace_.push_back("#" + std::to_string(index_) + " the controller is cut off");
        live_.clear();
        connect();
        expect_no_paths("a cut");
    }

    // The server has destroyed every slot: no path is left on the board.
    void expect_no_paths(const std::string& after) {
        if (const std::string left = paths_.all(); !left.empty())
            faults_.add("paths stay after " + after, context() + "    paths:" + left);
    }

    // No path is left to a slot that went, nor comes from the channel of one
    // that lost its hardware.
    void expect_no_paths_of(unsigned number, const char* how,
                            std::optional<int> transmit = std::nullopt) {
        const std::string left = paths_.of(std::to_string(number) + ":", transmit);
        if (!left.empty())
            faults_.add(std::string("paths stay with a slot that ") + how,
                        context() + "    slot " + std::to_string(number) + ", paths:" + left);
    }

    // The command's answer: nullopt for success. Signals before it are
    // seen on the way. When none comes in time, `answered_` is false.
    std::optional<Cause> ask(const LGCP::Command& command, std::optional<unsigned> slot,
                             const std::string& what, int timeoutMs = kAnswerMs) {
        const int seq = ++seq_ & 0xFFFF;
        pending_ = "#" + std::to_string(index_) + " ";
        if (slot) pending_ += "slot " + std::to_string(*slot) + ": ";
        pending_ += what;
        bool sent = true;
        try {
            controller_->send(command, seq, slot);
        } catch (const std::runtime_error&) {
            sent = false;  // the server has closed the connection
        }
        std::optional<LGCP::Message> answer;
        for (test::Deadline deadline(timeoutMs); sent && !answer && !deadline.passed();) {
            answer = controller_->receive_until(
                [&](const LGCP::Message& m) {
                    if (!test::is_response(m)) observe(m);
                    return test::is_response(m) && test::seq_of(m) == seq;
                },
                5);
            scan_log();
            if (!answer && controller_->closed_by_server(0)) break;
        }
        for (const auto& [number, transmit] : lost_)
            expect_no_paths_of(number, "lost it", transmit);
        lost_.clear();
        answered_ = answer.has_value();
        if (!answered_) {
            if (timeoutMs == kAnswerMs)
                ADD_FAILURE() << pending_ << ": no answer\n" << server_.output();
            return std::nullopt;
        }
        const std::optional<Cause> error = test::error_of(*answer);
        trace_.push_back(pending_ + (error ? " -> " + CauseName(*error) : " -> success"));
        pending_.clear();
        return error;
    }

    // A creation replaces the number's slot, whatever its answer, unless
    // that slot is still going.
    void created(unsigned number, const CommandForm& form, const CommandForm::Values& values,
                 std::optional<Cause> error) {
        if (error == Cause::destroyInProgress) return;
        forget(number);
        if (error) return;
        live_[number] = Known{&form, values, index_, {}, {}};
        ++made_[form.name].first;
    }

    // A QSIG slot's B channels lose their channels with its device.
    void forget(unsigned number) {
        auto gone = live_.find(number);
        if (gone == live_.end()) return;
        expect_no_paths_of(number, "went");
        if (IsQsig(*gone->second.form))
            for (auto& [other, slot] : live_)
                if (IsBChannel(*slot.form) && unsigned(slot.values[0]) == number) slot.lost = true;
        live_.erase(gone);
    }

    void observe(const LGCP::Message& message) {
        const LGCP::Signal* signal = message.get_pdu().get_signal();
        const std::optional<unsigned> number = test::slot_of(message);
        if (!signal || !number) return;
        auto known = live_.find(*number);
        if (known == live_.end()) return;
        Known& slot = known->second;
        if (signal->is_abort()) {
            slot.lost = true;
            lost_.emplace_back(*number, slot.transmit);
            trace_.push_back("  slot " + std::to_string(*number) + " aborts");
        }
        if (const auto* tx = signal->get_transmitter(); tx && tx->get_active())
            announced(*number, "transmits on", slot.transmit, tx->get_active()->getValue());
        if (const auto* rx = signal->get_receiver(); rx && rx->get_active())
            announced(*number, "receives on", slot.receive, rx->get_active()->getValue());
    }

    // A negative channel is none (a PSTN slot's).
    void announced(unsigned number, const char* direction, std::optional<int>& announcement,
                   int channel) {
        if (channel < 0) return;
        const Known& slot = live_.at(number);
        if (!slot.transmit && !slot.receive) ++made_[slot.form->name].second;
        announcement = channel;
        trace_.push_back("  slot " + std::to_string(number) + " " + direction + " " +
                         std::to_string(channel));
        for (const auto& [otherNumber, other] : live_) {
            if (otherNumber == number || slot.lost || other.lost) continue;
            if (other.transmit != channel && other.receive != channel) continue;
            if (NamesItsChannels(*slot.form) && NamesItsChannels(*other.form)) continue;
            if (IsMixerChannel(*slot.form) && IsMixerChannel(*other.form) &&
                slot.values == other.values)
                continue;
            std::string first =
                std::min(std::string(slot.form->name), std::string(other.form->name));
            std::string second =
                std::max(std::string(slot.form->name), std::string(other.form->name));
            faults_.add("two live slots announce one channel: " + first + " and " + second,
                        context() + "    channel " + std::to_string(channel) + " announced by " +
                            slot.name(number) + ", which " + other.name(otherNumber) +
                            " announced before");
        }
    }

    // The switch's paths and refusals since the last look.
    void scan_log() {
        server_.take_output();
        const std::string& log = server_.err();
        for (size_t end; (end = log.find('\n', seen_)) != std::string::npos; seen_ = end + 1) {
            const std::string line = log.substr(seen_, end - seen_);
            if (line.rfind("mux: ", 0) != 0) continue;
            if (const std::string broken = paths_.follow(line); !broken.empty())
                faults_.add("the switch breaks another owner's path", context() + "    " + broken);
            if (line.find(": refused") == std::string::npos) continue;
            static const std::regex number(R"(\d\d:)"), channel(R"(\[\d+\])");
            const std::string kind =
                std::regex_replace(std::regex_replace(line, number, ""), channel, "[n]");
            faults_.add("the switch refuses: " + kind, context() + "    " + line);
        }
    }

    // The commands before now, and the one that is waiting for its answer.
    std::string context() const {
        std::string text;
        for (size_t i = trace_.size() > kContext ? trace_.size() - kContext : 0; i < trace_.size();
             ++i)
            text += "    " + trace_[i] + "\n";
        return text + "    " + pending_ + (pending_.empty() ? "" : " (its answer not yet in)\n");
    }

    test::ServerProcess& server_;
    unsigned short port_;
    std::mt19937 random_;
    std::unique_ptr<test::RemoteController> controller_;
    std::map<unsigned, Known> live_;
    Paths paths_;
    // Slots that lost their hardware since the last look, with the channel
    // they announced they transmit on.
    std::vector<std::pair<unsigned, std::optional<int>>> lost_;
    // The commands answered, with the signals of the slots known; the one
    // that waits for its answer.
    std::vector<std::string> trace_;
    std::string pending_;
    Faults faults_;
    int index_ = 0;
    int seq_ = 0;
    bool answered_ = true;
    size_t seen_ = 0;
    unsigned cuts_ = 0;
    std::map<std::string, std::pair<unsigned, unsigned>> made_;
};

class RandomControllers : public test::RunningServer,
                          public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override {
        ::setenv("BOARD_AUTH_PORT", std::to_string(test::free_port()).c_str(), 1);
        using namespace test::stand_in;
        for (const char* program :
             {"/usr/local/sbin/pppd", "/usr/local/sbin/fax", "/usr/local/bin/fax"})
            board.write_program(program, obeys_hup());
        board.write_program("/usr/local/sbin/t38", t38(runs(), "6"));
        board.write_file(std::string("/usr/local/voice/") + test::forms::kPhrase,
                         std::string(3000, 'p'));
        start();
    }
};

TEST_P(RandomControllers, MeetNoRefusalNoChannelTwiceAndNoStrayPath) {
    RandomController controller(*server, port, GetParam());
    const bool served = controller.run(kCommands);
    stop();
    controller.stopped();
    std::cout << "seed " << GetParam() << ": " << kCommands << " commands, " << controller.summary()
              << std::endl;
    EXPECT_TRUE(served);
    EXPECT_TRUE(controller.faults().empty()) << controller.faults().report();
}

// Seeds 13 and 34 wire a mixer channel's input with its output and two of its
// inputs; 16 runs a QSIG link beside a digital-modem call. In 3, 10, 13, 16,
// 34 and 54 a slot switches into a channel an HDLC channel transmitted to
// before it let go (in 10 the HDLC channel of another D-channel slot): each
// fails where the HDLC channel's release breaks whatever the channel
// carries.
INSTANTIATE_TEST_SUITE_P(Seeds, RandomControllers,
                         ::testing::Values(3u, 10u, 13u, 16u, 34u, 54u));

}  // namespace
