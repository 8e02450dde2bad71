// Digital data calls on the simulated board's HDLC network interfaces: the
// factory's choice and its free list, the slot's set-up of the interface for
// pppd and its release.
#include <gtest/gtest.h>

#include "slots/hdlc_modem_slot.h"
#include "tests/slots/modem_fixture.h"

namespace {

using namespace test::stand_in;
using board::sim::NetIfModel;
using Names = std::list<std::string>;

class HdlcModem : public test::ModemTest {
protected:
    const std::string kPppd = "/usr/local/sbin/pppd";

    HdlcModem() { server.board().write_program(kPppd, obeys_hup()); }

    static NetIfModel& netifs() { return sim().netifs(); }
    static TERM::ModemParams digital() {
        TERM::ModemParams p = params();
        p.include_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
        return p;
    }
    static HdlcModemSlot* hdlc_at(unsigned number) {
        return dynamic_cast<HdlcModemSlot*>(Slots::instance()->at(number));
    }
    static const NetIfModel::Hdlc& hdlc0() { return *netifs().find("hdlc0")->hdlc; }
    // Slot `number` takes a stream from a scripted slot (its first stream request).
    void feed(unsigned number) {
        ask(test::create_command(0), number + 100);
        ask(test::connect_command(number), number + 100);
    }
    // Its second: it feeds a scripted slot.
    void drain(unsigned number) {
        ask(test::create_command(0), number + 200);
        ask(test::connect_command(number + 200), number);
    }
    size_t pppds() const { return test::count(progress.str(), "pppd executed"); }
    std::optional<int> digital_modems() {
        auto report = resources();
        return report ? std::optional<int>(report->get_digital_modems().getValue()) : std::nullopt;
    }
};

TEST_F(HdlcModem, RunsPppdOnTheFirstFreeInterfaceAndGivesItBackAtTheEnd) {
    create_connected(5, digital());
    ASSERT_TRUE(hdlc_at(5));
    EXPECT_EQ("hdlc0", hdlc_at(5)->interfaceName());
    EXPECT_EQ(Names{"hdlc1"}, modems.freeInterfaces());
    auto rx = signal(LGCP::Signal::Alternative::receiver, 5);
    ASSERT_TRUE(rx);
    EXPECT_EQ(NetIfModel::kHdlcChannelBase, rx->get_receiver()->get_active()->getValue());
    EXPECT_EQ(uint32_t(IF_PROTO_PPP), hdlc0().protocol);
    const std::vector<std::string> expected{host(kPppd), "file", host("/usr/local/etc/ppp/ioptions"),
                                            "hdlc0"};
    EXPECT_EQ(expected, argv_of(kPppd, hdlc_at(5)->pid()));

    drain(5);  // a second stream request while pppd runs
    EXPECT_EQ(1u, pppds());

    netifs().set_flags("hdlc0", IFF_POINTOPOINT | IFF_UP);  // as pppd leaves it
    controller.send(test::command(Alternative::destroy), 9, 5);
    std::optional<LGCP::Message> reply;
    EXPECT_TRUE(pump_until([&] { return bool(reply = controller.receive_until(test::is_response, 1)); }));
    EXPECT_TRUE(reply && test::is_success(*reply));
    EXPECT_NE(std::string::npos, errors.str().find("05:digital-modem: sent HUP to pppd."));
    EXPECT_EQ(IFF_POINTOPOINT, netifs().find("hdlc0")->flags);
    EXPECT_EQ(uint32_t(IF_PROTO_HDLC), hdlc0().protocol);
    EXPECT_EQ((Names{"hdlc1", "hdlc0"}), modems.freeInterfaces());
}

// The interface's channel goes back with the slot, with what flows into it
// whose silence the driver refuses: the next digital call on the interface
// (7, after 6 took hdlc1) hears nothing of the old party (105) before its
// own input is wired, and the old line (205) nothing of the new call.
TEST_F(HdlcModem, TheNextCallOnTheInterfaceHasNothingOfTheOldCall) {
    const int channel = NetIfModel::kHdlcChannelBase;
    create_connected(5, digital());
    drain(5);
    sim().refuse = [channel](board::sim::Op, const std::string&, uint32_t request, const void* arg) {
        return request == board::hal::kMuxWriteByte && *static_cast<const int32_t*>(arg) == channel
                   ? EIO
                   : 0;
    };
    EXPECT_EQ(std::nullopt, ask(test::command(Alternative::destroy), 5));
    for (unsigned number : {6, 7}) ASSERT_EQ(std::nullopt, ask(create_modem(digital()), number));
    ASSERT_EQ("hdlc0", hdlc_at(7)->interfaceName());
    drain(7);
    EXPECT_NE(board::sim::HalModel::Output::Source, fabric().channel(channel).output);
    EXPECT_NE(channel, fabric().origin(Slots::instance()->at(205)->IGetReceiveChannel()));
    sim().refuse = nullptr;
}

// The system refuses to take hdlc0 down at the end of its call, and goes on
// refusing for two seconds, the take-down tried every second (its line
// written once a second, with a count of those held back): meanwhile
// hdlc0 is offered to no call, however often scanned (a digital call gets
// a DSP modem, hdlc1 being held). Once the system takes it, by the retry or
// at the next digital call, hdlc0 is down in raw HDLC, and that call runs
// pppd on it.
TEST_F(HdlcModem, AnInterfaceTheSystemRefusedToTakeDownIsOfferedOnlyOnceDown) {
    struct Case {
        const char* what;
        unsigned long request;  // refused
        const char* line;
        unsigned waitMs;  // after the refusals, before the next call
    } cases[] = {
        {"flags, retried", SIOCSIFFLAGS, "SIOCSIFFLAGS fail!!!", 1000},
        {"flags, at the next call", SIOCSIFFLAGS, "SIOCSIFFLAGS fail!!!", 0},
        {"raw HDLC, retried", SIOCWANDEV, "SIOCWANDEV/IF_PROTO_HDLC fail!", 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        create_connected(5, digital());
        ASSERT_EQ("hdlc0", hdlc_at(5)->interfaceName());
        ASSERT_EQ(std::nullopt, ask(create_modem(digital()), 6));
        netifs().set_flags("hdlc0", IFF_POINTOPOINT | IFF_UP);  // as pppd leaves it
        errors.clear();
        // At the destroy, the next call and two retries.
        netifs().fail_next(c.request, EIO, 4);
        ASSERT_EQ(std::nullopt, ask(test::command(Alternative::destroy), 5));
        EXPECT_EQ(1u, test::count(errors.str(), std::string("05:digital-modem: ") + c.line));
        ASSERT_EQ(std::nullopt, ask(create_modem(digital()), 7));
        EXPECT_TRUE(modem_at(7));
        server.advance(2000);
        EXPECT_EQ(2, digital_modems());
        EXPECT_EQ(Names{}, modems.freeInterfaces());
        EXPECT_EQ(3u, test::count(errors.str(), c.line));
        EXPECT_EQ(1u, test::count(errors.str(), std::string(c.line) + " (1 more since)"));

        server.advance(c.waitMs);
        ASSERT_EQ(std::nullopt, ask(create_modem(digital()), 8));
        ASSERT_TRUE(hdlc_at(8));
        EXPECT_EQ("hdlc0", hdlc_at(8)->interfaceName());
        feed(8);
        EXPECT_NE(-1, hdlc_at(8)->pid());
        EXPECT_EQ(uint32_t(IF_PROTO_PPP), hdlc0().protocol);
        EXPECT_EQ(0u, test::count(errors.str(), "SIOCWANDEV/IF_PROTO_PPP fail!"));
        for (unsigned number : {8, 6, 7, 105, 108})  // hdlc0 first again
            ASSERT_EQ(std::nullopt, ask(test::command(Alternative::destroy), number));
        netifs().set_flags("hdlc0", IFF_POINTOPOINT);
    }
}

TEST_F(HdlcModem, AFailedSetUpStartsNoPppdAndTheNextRequestTriesAgain) {
    using Name = const std::string&;
    struct Case {
        const char* what;
        std::function<void(Name)> fault;
        const char* line;  // none for the socket
    } cases[] = {
        {"socket", [](Name) { netifs().fail_next_socket(EMFILE); }, nullptr},
        {"settings", [](Name) { netifs().fail_next(SIOCWANDEV, EIO); }, "SIOCWANDEV/IF_GET_IFACE fail!"},
        {"interface up", [](Name name) { netifs().set_flags(name, IFF_POINTOPOINT | IFF_UP); },
         "SIOCWANDEV/IF_PROTO_PPP fail!"},
    };
    unsigned number = 10;
    for (const Case& c : cases) {
        ASSERT_EQ(std::nullopt, ask(create_modem(digital()), number)) << c.what;
        const std::string name = hdlc_at(number)->interfaceName();
        c.fault(name);
        feed(number);
        EXPECT_EQ(-1, hdlc_at(number)->pid()) << c.what;
        if (c.line) {
            EXPECT_EQ(1u, test::count(errors.str(), c.line)) << c.what;
        }
        EXPECT_EQ(0u, pppds()) << c.what;

        netifs().set_flags(name, IFF_POINTOPOINT);
        drain(number);
        EXPECT_EQ(1u, pppds()) << c.what;
        EXPECT_EQ(uint32_t(IF_PROTO_PPP), netifs().find(name)->hdlc->protocol) << c.what;
        ASSERT_EQ(std::nullopt, ask(test::command(Alternative::destroy), number));
        progress.clear();
        ++number;
    }
}

TEST_F(HdlcModem, AfterPppdEndedTheNextRequestSetsTheInterfaceUpAgain) {
    server.board().write_program(kPppd, exits(1));
    create_connected(5, digital());
    EXPECT_EQ(256, abort_signal());
    netifs().find("hdlc0")->hdlc->protocol = IF_PROTO_HDLC;
    drain(5);
    EXPECT_EQ(2u, pppds());
    EXPECT_EQ(uint32_t(IF_PROTO_PPP), hdlc0().protocol);
}

// A record naming no modem reaches no slot (neither a DSP modem slot not
// set up yet nor an HDLC one), but its connection hears the answers that
// name none.
TEST_F(HdlcModem, AnActivationAnswersTheConnectionThatNamedNoSession) {
    ASSERT_EQ(std::nullopt, ask(create_modem(params()), 4));
    ASSERT_EQ(std::nullopt, ask(create_modem(digital()), 5));
    Fd program = auth_connect();
    say(program, test::auth_record(16, 2, 0xFFFFFFFF),
        "receive auth request for unknown session 4294967295");
    EXPECT_EQ(std::nullopt, ask(activate(), 5));
    EXPECT_TRUE(pump_until(
        [&] { return test::read_available(program.get()) == activation_answer(0xFFFFFFFF); }));
}

// A scan whose socket or request the system refused (but for a name that
// is missing) learns nothing: what the last scan found stays.
TEST_F(HdlcModem, TheScanOffersPointToPointInterfacesUpToTheFirstMissingName) {
    const short p2p = IFF_POINTOPOINT;
    struct Case {
        std::vector<std::pair<const char*, short>> interfaces;  // name, flags
        Names offered;
        std::function<void()> refuse = [] {};
        bool said = true;  // the line of the interfaces found
    } cases[] = {
        {{{"hdlc0", p2p}, {"hdlc1", p2p}, {"hdlc3", p2p}}, {"hdlc0", "hdlc1"}},
        {{{"hdlc0", p2p}}, {"hdlc0", "hdlc1"}, [] { netifs().fail_next(SIOCGIFINDEX, ENOMEM); },
         false},
        {{{"hdlc0", p2p}}, {"hdlc0", "hdlc1"}, [] { netifs().fail_next(SIOCGIFFLAGS, EIO); },
         false},
        {{{"hdlc0", p2p}}, {"hdlc0", "hdlc1"}, [] { netifs().fail_next_socket(ENOBUFS); }, false},
        {{{"hdlc0", p2p | IFF_LOOPBACK}, {"hdlc1", IFF_BROADCAST}, {"hdlc2", p2p}}, {"hdlc2"}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        for (int index = 3; index < 8; ++index) netifs().remove(index);
        int index = 3;
        for (const auto& [name, flags] : c.interfaces) {
            NetIfModel::Interface i = NetIfModel::hdlc(index++, name, 0);
            i.flags = flags;
            netifs().add(i);
        }
        progress.clear();
        server.advance(1000);  // the line is said once a second
        c.refuse();
        EXPECT_EQ(int(c.offered.size()), digital_modems());
        EXPECT_EQ(c.offered, modems.freeInterfaces());
        std::string line = "found point-o-point devices:";
        for (const std::string& name : c.offered) line += " " + name;
        EXPECT_EQ(c.said && !c.offered.empty(), progress.str().find(line + "\n") != std::string::npos)
            << line;
    }
}

// A rescan leaves out what the slots hold, but still counts it; a call
// without a mode or a free interface gets a DSP modem; released names go to
// the end, also when the controller leaves, unless the interface is gone.
TEST_F(HdlcModem, HeldInterfacesAreNotOfferedAgainAndReleasedOnesGoLast) {
    ASSERT_EQ(std::nullopt, ask(create_modem(digital()), 5));
    EXPECT_EQ(2, digital_modems());
    ASSERT_EQ(std::nullopt, ask(create_modem(digital()), 6));
    EXPECT_EQ("hdlc1", hdlc_at(6)->interfaceName());
    EXPECT_EQ(2, digital_modems());
    EXPECT_EQ(Names{}, modems.freeInterfaces());
    TERM::ModemParams emptyDdm = params();
    emptyDdm.include_ddm();
    for (const TERM::ModemParams& p : {digital(), emptyDdm}) {
        ASSERT_EQ(std::nullopt, ask(create_modem(p), 8));
        EXPECT_TRUE(modem_at(8));
        ASSERT_EQ(std::nullopt, ask(test::command(Alternative::destroy), 8));
    }

    ASSERT_EQ(std::nullopt, ask(test::command(Alternative::destroy), 5));
    ASSERT_EQ(std::nullopt, ask(test::command(Alternative::destroy), 6));
    EXPECT_EQ((Names{"hdlc0", "hdlc1"}), modems.freeInterfaces());
    ASSERT_EQ(std::nullopt, ask(create_modem(digital()), 7));
    EXPECT_EQ("hdlc0", hdlc_at(7)->interfaceName());

    // Gone while held: once a scan missed it, its release offers it no more.
    ASSERT_EQ(std::nullopt, ask(create_modem(digital()), 8));
    netifs().remove(netifs().find("hdlc1")->index);
    EXPECT_EQ(1, digital_modems());
    ASSERT_EQ(std::nullopt, ask(test::command(Alternative::destroy), 8));
    EXPECT_EQ(Names{}, modems.freeInterfaces());

    controller.close();
    EXPECT_TRUE(pump_until([] { return Slots::instance()->live().empty(); }));
    EXPECT_EQ((Names{"hdlc0"}), modems.freeInterfaces());
}

}  // namespace
