// The dial-in authentication link over loopback: the program's records
// reach the controller as signals of the modem slot of their session, and
// an activation is answered to the program.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <vector>

#include "tests/slots/modem_fixture.h"
#include "tests/support/descriptor_shortage.h"
#include "tests/support/forked_child.h"

namespace {

using test::auth_record;
using test::count;
using test::word;
using Signal = LGCP::Signal::Alternative;

class AuthLink : public test::ModemTest {
protected:
    // Slots 5 and 6 on modems 0 and 1; a fax call they originate runs no program.
    AuthLink() {
        TERM::ModemParams fax = params();
        fax.include_fax();
        fax.include_originate();
        create_connected(5, fax);
        create_connected(6, fax);
    }
    const std::string answer0 = activation_answer(0);

    // What the shortage runs, run first with descriptors to spare
    // (tests/support/descriptor_shortage.h).
    void rehearse_a_rest() {
        auth_connect();
        test::rehearse_listen_rest([&](uint64_t ms) { server.advance(ms); });
    }
};

TEST_F(AuthLink, LoginsAndAccountingBecomeSignalsOfTheSessionsSlot) {
    Fd program = auth_connect();
    ASSERT_TRUE(test::write_bytes(program.get(), test::login(0, std::string(64, 'u'), "pw")));
    auto s = signal(Signal::modemProceeding);
    ASSERT_TRUE(s && s->get_modemProceeding()->get_auth());
    EXPECT_EQ(std::string(64, 'u'), s->get_modemProceeding()->get_auth()->get_username());
    EXPECT_EQ("pw", s->get_modemProceeding()->get_auth()->get_password());

    const std::string totals = std::string(12, 'x') + word(1) + word(2) + word(3) + word(4) +
                               word(5) + word(6) + word(7) + word(8) + word(9);
    ASSERT_TRUE(test::write_bytes(program.get(), auth_record(64, 4, 1, totals)));
    s = signal(Signal::modemProceeding);
    ASSERT_TRUE(s && s->get_modemProceeding()->get_acct());
    const TERM::MdmAccounting& acct = *s->get_modemProceeding()->get_acct();
    EXPECT_EQ(1, acct.get_octetsOut().get_high().getValue());
    EXPECT_EQ(2, acct.get_octetsOut().get_low().getValue());
    EXPECT_EQ(8, acct.get_packetsIn().get_low().getValue());
    EXPECT_EQ(9, acct.get_time().get_low().getValue());
    EXPECT_EQ(0, acct.get_time().get_high().getValue());
}

// A fax program uses its slot's modem, which stays allocated to the slot
// meanwhile: the next call gets another modem, and the records of the fax
// program's modem reach no slot.
TEST_F(AuthLink, AModemAFaxProgramUsesIsNotTheNextCallsAndNoSlotsSession) {
    server.board().write_program("/usr/local/bin/fax", test::stand_in::obeys_hup());
    server.board().write_program("/usr/local/sbin/pppd", test::stand_in::obeys_hup());
    TERM::ModemParams receiver = params();
    receiver.include_fax();
    create_connected(7, receiver);
    create_connected(8, params());
    ASSERT_EQ(3, modem_at(8)->modem_id());

    Fd program = auth_connect();
    say(program, test::login(2, "user", "pw"), "receive auth request for unknown session 2");
    ASSERT_TRUE(test::write_bytes(program.get(), test::login(3, "user", "pw") +
                                                     auth_record(64, 4, 3, std::string(52, '\0'))));
    auto login = signal(Signal::modemProceeding, 8);
    EXPECT_TRUE(login && login->get_modemProceeding()->get_auth());
    auto acct = signal(Signal::modemProceeding, 8);
    EXPECT_TRUE(acct && acct->get_modemProceeding()->get_acct());
    EXPECT_EQ(std::nullopt, ask(activate(), 8));
    EXPECT_TRUE(
        pump_until([&] { return test::read_available(program.get()) == activation_answer(3); }));
    // The fax slot names no session in its answers and hears none.
    EXPECT_EQ(std::nullopt, ask(activate(), 7));
    EXPECT_EQ(2u, count(progress.str(), "send error: unknown auth 4294967295 session."));
    for (const LGCP::Message& m : seen_) {
        const LGCP::Signal* s = m.get_pdu().get_signal();
        EXPECT_FALSE(s && s->is_modemProceeding() && test::slot_of(m) == 7u);
    }
}

TEST_F(AuthLink, BadRecordsAreLoggedAndTheConnectionKept) {
    Fd program = auth_connect();
    say(program, auth_record(139, 1, 0), "05:dsp-modem: auth request, invalid size: 139");
    say(program, auth_record(63, 4, 1), "06:dsp-modem: auth accounting, invalid size: 63");
    say(program, auth_record(12, 0x2A, 0), "unknown request from portslave: 0x2a");
    say(program, test::login(0, "us\xE9r", "s3cret"), "not IA5, dropped: modem=0");
    EXPECT_EQ(std::string::npos, errors.str().find("s3cret"));
    EXPECT_FALSE(controller.receive_until(test::is_signal, 3));
    EXPECT_EQ(1u, modems.connections());
}

TEST_F(AuthLink, ActivationAnswersTheFirstConnectionThatLastNamedTheSession) {
    Fd first = auth_connect(), second = auth_connect(), other = auth_connect();
    say(first, auth_record(16, 2, 0), "auth accept, ignored.");
    say(second, auth_record(16, 2, 0), "auth accept, ignored.");
    // A session no slot owns is still the connection's last.
    say(other, test::login(77, "u", "p"), "receive auth request for unknown session 77");

    EXPECT_EQ(std::nullopt, ask(activate(), 5));
    EXPECT_TRUE(pump_until([&] { return test::read_available(first.get()) == answer0; }));
    EXPECT_EQ("", test::read_available(second.get()));
    EXPECT_EQ("", test::read_available(other.get()));

    // Nobody named modem 1: two lines, and the command succeeds all the same.
    EXPECT_EQ(std::nullopt, ask(activate(), 6));
    EXPECT_EQ(2u, count(progress.str(), "send error: unknown auth 1 session."));
    EXPECT_EQ(LGCP::ErrorCause::unsupported, ask(activate(false), 6));
}

TEST_F(AuthLink, APeerThatStopsReadingIsDroppedAtASend) {
    Fd program, ours;
    test::tcp_pair(program, ours);
    Fd filler = ours;  // the server's end, seen from here
    INet4::Addr peer;
    modems.Serve(std::move(ours), peer);
    say(program, auth_record(16, 2, 0), "auth accept, ignored.");
    ASSERT_TRUE(filler.NonBlock());
    const std::string junk(65536, 'j');
    while (::send(filler.get(), junk.data(), junk.size(), MSG_DONTWAIT) > 0) {
    }

    EXPECT_EQ(std::nullopt, ask(activate(), 5));
    EXPECT_EQ(0u, modems.connections());
    EXPECT_EQ(1u, count(progress.str(), "disconnected."));
}

// A program that streams records gets a burst a pass; the line of a flood
// of records for no session goes out once a second, counting the others.
TEST_F(AuthLink, AStreamIsServedABurstAPassAndUnknownSessionsAreLoggedOnceASecond) {
    Fd program = auth_connect();
    std::string accounting, unknown;
    for (int i = 0; i < 100; ++i) {
        accounting += auth_record(64, 4, 1);
        unknown += test::login(77, "u", "p");
    }
    ASSERT_TRUE(test::write_bytes(program.get(), accounting));
    for (unsigned expected : {64u, 36u}) {
        server.pump();
        unsigned signals = 0;
        while (controller.receive(0)) ++signals;
        EXPECT_EQ(expected, signals);
    }
    ASSERT_TRUE(test::write_bytes(program.get(), unknown));
    server.pump(2);
    EXPECT_EQ(1u, count(errors.str(), "unknown session 77"));
    server.advance(1000);
    say(program, test::login(77, "u", "p"), "unknown session 77 (99 more since)\n");
}

// Out of descriptors the listener rests after one line. The descriptor its
// watch let go of is taken meanwhile, so the watch finds none after the rest
// and rests again; once descriptors are free the waiting program gets in
// and is heard.
TEST_F(AuthLink, AFailedAcceptRestsTheListenerForASecond) {
    const std::string report = test::in_forked_child([&] {
        rehearse_a_rest();
        Fd program = test::connect_loopback(authPort);
        test::rest_out_of_descriptors([&] { server.pump(); },
                                      [&](uint64_t ms) { server.advance(ms); });
        test::write_bytes(program.get(), test::login(0, "user", "pw"));
        const bool heard = bool(signal(Signal::modemProceeding));
        return std::to_string(count(errors.str(), "fail to set nonblock mode.")) + " line, " +
               (heard ? "heard" : "not heard");
    });
    EXPECT_EQ("1 line, heard", report);
}

// A connection accepted with the last descriptor cannot be watched: it is
// closed at once, with a line, and the next one is served.
TEST_F(AuthLink, AConnectionThatCannotBeWatchedIsClosed) {
    const std::string report = test::in_forked_child([&] {
        rehearse_a_rest();
        Fd program = test::connect_loopback(authPort);
        {
            test::DescriptorShortage shortage(1);
            server.pump();
        }
        const bool closed = test::closed_by_peer(program.get());
        const size_t open = modems.connections();
        auth_connect();
        return std::to_string(
                   count(errors.str(), " closed: cannot watch it: Too many open files\n")) +
               " line, closed: " + std::to_string(closed) +
               ", connections: " + std::to_string(open) + " then " +
               std::to_string(modems.connections());
    });
    EXPECT_EQ("1 line, closed: 1, connections: 0 then 1", report);
}

// Beyond the cap a connection is accepted and closed at once, with a line.
TEST_F(AuthLink, AConnectionBeyondTheCapIsClosedAtOnce) {
    std::vector<Fd> programs;
    while (programs.size() < ModemFactory::kMaxAuthConnections) programs.push_back(auth_connect());
    Fd extra = test::connect_loopback_now(authPort), more = test::connect_loopback_now(authPort);
    server.pump(2);
    EXPECT_TRUE(test::closed_by_peer(extra.get()));
    EXPECT_TRUE(test::closed_by_peer(more.get()));
    EXPECT_EQ(ModemFactory::kMaxAuthConnections, modems.connections());
    EXPECT_EQ(1u, count(errors.str(), "refused: 64 connections open\n"));
}

// The bad length closes the connection in its own callback; it is deleted
// once, on the way out. The server closed first, so its side of the port
// waits in TIME_WAIT: a new listener must still bind.
TEST_F(AuthLink, ABadLengthClosesTheConnectionAndTheListenerReopensAfterIt) {
    Fd program = auth_connect();
    say(program, word(513), "disconnected.");
    EXPECT_EQ(0u, modems.connections());
    EXPECT_TRUE(test::closed_by_peer(program.get()));
    program.close();
    ::usleep(20000);  // the kernel finishes the close

    modems.reset_for_test();
    EXPECT_TRUE(modems.listening()) << errors.str();
    auth_connect();
    EXPECT_EQ(1u, count(progress.str(), "disconnected."));
}

}  // namespace
