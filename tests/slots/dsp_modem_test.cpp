// The DSP modem slot on the simulated modem control device: its set-up from
// the first stream request, and the fax programs it hands the modem to.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "tests/slots/modem_fixture.h"

// When not 0, the next listen() fails with this errno.
static int listenFailure = 0;

// This binary's listen(), in place of the C library's: a listener that the
// system refuses after its bind cannot be had otherwise.
extern "C" int listen(int fd, int backlog) noexcept {
    using Listen = int (*)(int, int);
    static const auto real = reinterpret_cast<Listen>(::dlsym(RTLD_NEXT, "listen"));
    if (listenFailure) {
        errno = std::exchange(listenFailure, 0);
        return -1;
    }
    return real(fd, backlog);
}

namespace {

using namespace test::stand_in;
using board::sim::MctlModel;
using board::sim::Op;
namespace mctl = board::mctl;

class DspModem : public test::ModemTest {
protected:
    // Calls with a digital data mode need a board without free HDLC
    // interfaces to reach a DSP modem.
    DspModem() {
        for (const char* name : {"hdlc0", "hdlc1"}) sim().netifs().remove(sim().netifs().find(name)->index);
        modems.IQuery();
        mctl().log.clear();
    }
    static TERM::ModemParams fax(unsigned args = 0) {
        TERM::ModemParams p = params();
        p.include_fax();
        for (unsigned i = 0; i < args; ++i)
            p.include_execargs().push_back(ASN1::IA5String("t" + std::to_string(i)));
        return p;
    }
    static std::vector<std::vector<int32_t>> words(const std::vector<MctlModel::Request>& log) {
        std::vector<std::vector<int32_t>> out;
        for (const auto& r : log) out.push_back(r.words);
        return out;
    }
    // The accounting of a fax program's end: its page count.
    std::optional<int> pages() {
        auto s = signal(LGCP::Signal::Alternative::modemProceeding);
        if (!s || !s->get_modemProceeding()->get_acct()) return std::nullopt;
        return s->get_modemProceeding()->get_acct()->get_octetsIn().get_low().getValue();
    }
};

TEST_F(DspModem, SetsItsModemUpOnTheFirstStreamRequest) {
    server.board().write_program("/usr/local/sbin/pppd", obeys_hup());
    TERM::ModemParams p = params();
    auto& ddm = p.include_ddm();
    for (auto mode : {TERM::DigitalDataModeEnum::ddmV110, TERM::DigitalDataModeEnum::ddm7BIT,
                      TERM::DigitalDataModeEnum::ddmV120})
        ddm.push_back(mode);
    for (int i : {1, 3}) {
        TERM::DDModemParam& param = p.include_dmp().append();
        param.set_offset(i);
        param.set_value(i + 1);
    }
    create_connected(5, p);

    auto tx = signal(LGCP::Signal::Alternative::transmitter, 5);
    auto rx = signal(LGCP::Signal::Alternative::receiver, 5);
    ASSERT_TRUE(tx && rx);
    EXPECT_EQ(MctlModel::kFirstChannel, tx->get_transmitter()->get_active()->getValue());
    EXPECT_EQ(MctlModel::kFirstChannel, rx->get_receiver()->get_active()->getValue());
    using W = std::vector<std::vector<int32_t>>;
    EXPECT_EQ((W{{0}, {0}, {0, 5}, {0, -1}, {0, 1, 2}, {0, 3, 4}, {0, -1}}), words(mctl().log));
    EXPECT_EQ(mctl::kAnswer, mctl().log.back().request);
    EXPECT_EQ((std::map<int32_t, int32_t>{{1, 2}, {3, 4}}), mctl().modem(0).params);

    create(7);
    connect(5, 7);  // a second stream request
    EXPECT_EQ(1u, mctl().requests(mctl::kAllocate).size());
    EXPECT_EQ(1, mctl().held());

    TERM::ModemParams v120 = fax();
    v120.include_originate();
    v120.include_ddm().push_back(TERM::DigitalDataModeEnum::ddmV120);
    create_connected(6, v120);
    EXPECT_EQ(0, mctl().modem(1).ddm);
    EXPECT_EQ(mctl::kOriginateFax, mctl().modem(1).call);
    EXPECT_EQ(-1, modem_at(6)->pid());  // no program for an originated fax
}

TEST_F(DspModem, AFailedSetUpAbortsAndHoldsNoModem) {
    struct Case {
        std::function<void()> arrange;
        int error;
        const char* line;
    } cases[] = {
        {[] { mctl().absent = true; }, ENOENT, "fail to open device: "},
        {[] { mctl().set_pool(0); }, EBUSY, "insufficient resources : "},
        {[] { sim().fail_next(Op::Ioctl, mctl::kDevice, ENXIO, mctl::kGetChannel); }, ENXIO,
         "get timeslot fail : "},
        {[] { sim().fail_next(Op::Ioctl, mctl::kDevice, EINVAL, mctl::kSetDdm); }, EINVAL,
         "set DDM failed : "},
        // The call would start with parameters other than those asked for.
        {[] { sim().fail_next(Op::Ioctl, mctl::kDevice, EIO, mctl::kResetParams); }, EIO,
         "reset dmp parameters failed : "},
        {[] { sim().fail_next(Op::Ioctl, mctl::kDevice, EAGAIN, mctl::kSetParam); }, EAGAIN,
         "set dmp parameter index=1 value=2 failed : "},
    };
    unsigned number = 10;
    for (const Case& c : cases) {
        c.arrange();
        TERM::ModemParams p = params();
        p.include_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
        TERM::DDModemParam& param = p.include_dmp().append();
        param.set_offset(1);
        param.set_value(2);
        ASSERT_EQ(std::nullopt, ask(create_modem(p), number));
        ASSERT_EQ(std::nullopt, ask(test::create_command(0), number + 100));
        EXPECT_EQ(LGCP::ErrorCause::connectFail, ask(test::connect_command(number), number + 100));
        EXPECT_EQ(c.error, abort_signal()) << c.line;
        EXPECT_NE(std::string::npos, errors.str().find(c.line));
        EXPECT_EQ(0, mctl().held());
        EXPECT_EQ(-1, modem_at(number)->modem_id());
        mctl().reset();
        ++number;
    }
}

// Requests refused once the modem is held, and a listener refused: each is
// logged; a call request aborts the call with its error, a listener that
// cannot bind or listen is not had.
TEST_F(DspModem, RefusedRequestsAreLogged) {
    server.board().write_program("/usr/local/sbin/pppd", obeys_hup());
    auto refused = [this](uint32_t request, unsigned number, const TERM::ModemParams& p) {
        return [=] {
            sim().fail_next(Op::Ioctl, mctl::kDevice, EIO, request);
            create_connected(number, p);
        };
    };
    auto reopened = [this](unsigned short port) {
        return [=] {
            ::setenv("BOARD_AUTH_PORT", std::to_string(port).c_str(), 1);
            modems.reset_for_test();
            EXPECT_FALSE(modems.listening());
            ::setenv("BOARD_AUTH_PORT", std::to_string(authPort).c_str(), 1);
        };
    };
    unsigned short taken = 0;
    const Fd occupant = test::listen_loopback(taken);
    TERM::ModemParams originate = params();
    originate.include_originate();
    TERM::ModemParams faxOriginate = fax();
    faxOriginate.include_originate();
    struct Case {
        std::function<void()> act;
        std::string line;
        std::optional<int> abort;
    } cases[] = {
        {reopened(taken), "fail to bind auth socket: Address already in use", std::nullopt},
        {[&] { listenFailure = EADDRINUSE; reopened(authPort)(); },
         "fail to listen auth socket: Address already in use", std::nullopt},
        {refused(mctl::kAnswer, 10, params()), "10:dsp-modem: answer failed : Input/output error", EIO},
        {refused(mctl::kOriginate, 11, originate), "11:dsp-modem: originate failed : Input/output error", EIO},
        {refused(mctl::kOriginateFax, 12, faxOriginate), "12:dsp-modem: originate failed : Input/output error",
         EIO},
    };
    for (const Case& c : cases) {
        c.act();
        EXPECT_NE(std::string::npos, errors.str().find(c.line + "\n")) << c.line;
        if (c.abort) {
            EXPECT_EQ(c.abort, abort_signal()) << c.line;
        }
    }
    EXPECT_EQ(3, mctl().held());  // the aborted calls keep their modems
}

TEST_F(DspModem, TheFaxTransferProgramGetsAtMostSixtyTextsAndReportsItsPages) {
    server.board().write_program("/usr/local/sbin/fax", exits(3));
    create_connected(5, fax(70));
    std::vector<std::string> expected{host("/usr/local/sbin/fax"), "-m", "0"};
    for (int i = 0; i < 60; ++i) expected.push_back("t" + std::to_string(i));
    EXPECT_EQ(expected, argv_of("/usr/local/sbin/fax", modem_at(5)->pid()));
    EXPECT_EQ(3, pages());
    EXPECT_EQ(3 << 8, abort_signal());
    EXPECT_EQ(0, mctl().held());  // the program has the modem
}

// A name already taken, by a fax of that time on another day or by a call
// answered in the same second, gets the next free suffix.
TEST_F(DspModem, TheFaxReceiverNamesItsFileAfterTheLoopClock) {
    server.board().write_program("/usr/local/bin/fax", fax_receiver(2));
    struct Case {
        int second;                       // of 14:05
        std::vector<std::string> before;  // files there already
        std::vector<std::string> given;   // to the calls answered in that second
    } cases[] = {
        {9, {}, {"/var/fax-14-05-09.g3", "/var/fax-14-05-09.1.g3"}},
        {10, {"/var/fax-14-05-10.g3"}, {"/var/fax-14-05-10.1.g3"}},
    };
    unsigned number = 5;
    for (const Case& c : cases) {
        time_t now = Mux::seconds();
        struct tm local;
        localtime_r(&now, &local);
        local.tm_hour = 14;
        local.tm_min = 5;
        local.tm_sec = c.second;
        server.loop().clock().set_us(uint64_t(mktime(&local)) * 1000000);
        for (const std::string& file : c.before) server.board().write_file(file, "earlier\n");
        std::vector<int> pids;
        for (size_t call = 0; call < c.given.size(); ++call) {
            create_connected(number, fax());
            pids.push_back(modem_at(number++)->pid());
        }
        for (size_t call = 0; call < c.given.size(); ++call) {
            const std::string& file = c.given[call];
            std::vector<std::string> argv = argv_of("/usr/local/bin/fax", pids[call]);
            if (argv.size() > 2) argv[2] = "<modem>";
            EXPECT_EQ((std::vector<std::string>{host("/usr/local/bin/fax"), "-m", "<modem>",
                                                "receive", host(file)}),
                      argv);
            const std::string written = std::to_string(pids[call]) + "\n";
            EXPECT_TRUE(pump_until([&] { return server.board().read_file(file) == written; })) << file;
        }
        for (const std::string& file : c.before) EXPECT_EQ("earlier\n", server.board().read_file(file));
    }
    EXPECT_EQ(2, pages());
}

// A child that exits through exit() runs what the server registered for
// its own end: here, a marker naming the process.
std::string exitMarker;
const pid_t testPid = ::getpid();
void MarkExit() {
    if (::getpid() != testPid) std::ofstream(exitMarker + std::to_string(::getpid())) << "ran";
}

// A program killed, or one that never started, counts no page; a child
// that cannot exec leaves without running the server's exit handlers.
TEST_F(DspModem, AFailedFaxProgramReportsNoPages) {
    static const int registered = std::atexit(MarkExit);
    ASSERT_EQ(0, registered);
    exitMarker = host("/var/exit-");
    struct Case {
        std::string script;  // empty: no program
        int status;
    } cases[] = {{killed(), 9}, {"", 127 << 8}};
    unsigned number = 10;
    for (const Case& c : cases) {
        if (!c.script.empty()) server.board().write_program("/usr/local/sbin/fax", c.script);
        TERM::ModemParams p = fax(1);
        if (c.script.empty()) p.set_execfile("/usr/local/sbin/no-fax");
        create_connected(number++, p);
        EXPECT_EQ(0, pages());
        EXPECT_EQ(c.status, abort_signal());
    }
    EXPECT_EQ(2u, test::count(errors.str(), "fax transfer failed"));
    for (const auto& file : std::filesystem::directory_iterator(host("/var")))
        EXPECT_EQ(std::string::npos, file.path().string().find("exit-")) << file.path();
}

// The enumeration ends where the driver says (ENODEV), or at its cap; one
// the driver refused before its end says nothing about the modems not yet
// found: the count known stays, with one line.
TEST_F(DspModem, ModemsAreCountedToTheEndOfTheEnumeration) {
    // The driver refuses its `nth` enumerate request from now on.
    auto refuse_enumerate = [](int nth, int error) {
        sim().refuse = [nth, error, seen = 0](Op op, const std::string&, uint32_t request,
                                              const void*) mutable {
            return op == Op::Ioctl && request == mctl::kEnumerate && ++seen == nth ? error : 0;
        };
    };
    struct Case {
        const char* name;
        std::function<void()> setUp;
        int modems;
        std::string line;  // logged (none when empty)
    } cases[] = {
        {"the driver's end", [] {}, MctlModel::kDefaultModems, ""},
        {"the first refused",
         [&] {
             mctl().set_pool(6);
             refuse_enumerate(1, EIO);
         },
         MctlModel::kDefaultModems, "enum fail: Input/output error, the count stays\n"},
        {"the third refused", [&] { refuse_enumerate(3, EINTR); }, MctlModel::kDefaultModems,
         "enum fail: Interrupted system call, the count stays\n"},
        {"counted again", [] {}, 6, ""},
        {"the cap", [] { mctl().endless = true; }, 1024, "enum fail: more than 1024 modems\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        c.setUp();
        modems.IQuery();
        sim().refuse = nullptr;
        EXPECT_EQ(c.modems, modems.modems());
        const std::string logged = c.line.empty() ? "enum fail" : c.line;
        EXPECT_EQ(!c.line.empty(), errors.str().find(logged) != std::string::npos) << errors.str();
    }
}

}  // namespace
