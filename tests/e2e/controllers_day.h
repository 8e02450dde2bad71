#pragma once
// A controller's day on the server in-process (every service and slot
// factory, the simulated board, virtual time, stand-ins for the programs
// the slots start), judged as it goes: every answer against what the
// board's models and the slot graph show, and after each command or pause
// in which the driver refused a request, the live slots' switch paths,
// receivers, channels and sessions against what the controller asked for
// and was told. The refusal sweep of tests/e2e/refused_requests_test.cpp
// plays it with driver requests refused.
//
// The judge holds the server to this: a command answered `success` did
// what it asked (a create's slot is live with its channel, stream, session
// or modem held by the driver, and the echo canceller or voice processing
// it asked for on; a connect's destination has it as source; a receiver
// function is on in the driver; a clock mask is the driver's), and one
// answered with an error left the graph and that slot's devices as they
// were. What a refusal may leave apart meanwhile is only what the server
// still owes: the switch's channels it has not settled, and what a slot
// makes later (a radio's session and source filter, an RTP stream's input,
// a mixer input's place in its sum, a modem's set-up, the framer LEDs).
// Once the refusals are over and the day has settled for longer than every
// retry period, nothing may be apart (judge(strict)).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "messages/lgcp.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/refusal_sweep.h"
#include "tests/support/stream_capture.h"
#include "tests/support/test_controller.h"

class Slot;

namespace day {

class Day {
public:
    // The sweep whose refusals the day's waits take into account.
    explicit Day(const test::RefusalSweep& sweep);
    ~Day();

    // The programs the modem and T.38 slots start, as stand-ins that run
    // until told to end. Until then a query counts no T.38 instance
    // without starting the count program (a fork of this whole process).
    void install_programs();
    // A controller connects (the last one cut) and queries the board.
    void reconnect();
    bool connected() const { return connected_; }

    // ---- Commands: each is sent, its answer taken (the signals before it
    // kept) and judged. True for success.
    bool send(const LGCP::Command& command, std::optional<unsigned> slot = {});
    // A command of the table's forms (tests/support/controller_inputs.h)
    // with its usual values.
    bool send(const char* form, unsigned slot);
    void make(unsigned slot, const LGCP::Command& create);
    void make(unsigned slot, const char* form);
    void join(unsigned source, unsigned destination);
    void wire(unsigned a, unsigned b);
    void unjoin(unsigned slot);
    void destroy(unsigned slot);
    // A radio keyed or un-keyed (an `rtpExt` ioctl): answered success, its
    // session filters the sources it hears when `filtered`, else not.
    void key(unsigned slot, const LGCP::Command& keying, bool filtered);
    // Framer 1's line comes up, then its link: its line LED alone is lit.
    void show_framer_up();
    // Trunks 2 and 0 slaves of the bus clock, then 2 its master.
    void set_trunk_modes();
    // Virtual time passes, the state judged after.
    void run(unsigned ms);

    // ---- Events: the driver reports on the slot's timeslot (a DTMF digit,
    // a 2100 Hz tone, voice activity) and the controller must hear of it,
    // unless the driver refused the read meanwhile.
    void hear_dtmf(unsigned slot);
    void hear_tone(unsigned slot);
    void hear_voice(unsigned slot);
    // Each slot whose DTMF detector is on hears a digit.
    void hear_again();

    // ---- The day's end.
    // Longer than every retry period of the server (a second, and the
    // monitoring's 2 s), again while the sweep refuses meanwhile.
    void settle();
    // The controller goes: the server destroys every slot (those that
    // run a program once it has ended).
    void cut();
    // What the day made, destroyed newest first.
    void clean_up();

    // Faults found since the last call; "" when none. judge(true) judges
    // the state now as one with nothing owed.
    std::string faults();
    void judge(bool strict);
    // What is left once the day has cleaned up and settled; "" when nothing.
    std::string leftovers();
    // The commands answered with an error since the last call.
    std::string failed();

private:
    struct Before;
    struct Asked {
        Slot* slot;  // while it is the live slot of its number
        std::string what;
        std::function<std::string(Slot&)> missing;  // "" while it holds
        bool owed = false;  // the server may owe it meanwhile: judged once settled
    };

    std::optional<LGCP::Message> answer();
    Before before(const LGCP::Command& command, std::optional<unsigned> slot) const;
    void judge_answer(const LGCP::Command& command, std::optional<unsigned> slot,
                      const Before& before, bool success);
    // What the controller asked of the slot's receivers and radio that the
    // answer says is done; replaces what it asked before of the same kind.
    void note_asked(const LGCP::Command& command, unsigned slot);
    // What a create answered success asked beside the slot: a mixer
    // input's echo canceller and place in the sum (owed while the driver
    // refuses the add), a radio's voice processing.
    void note_created(const LGCP::CreateParams& create, unsigned slot);
    void hear(unsigned slot, const char* what, const std::function<bool(unsigned ts)>& report);

    const test::RefusalSweep& sweep_;
    test::StreamCapture notices_{std::cout}, errors_{std::cerr}, progress_{std::clog};
    test::HardwareReset hardware_;
    std::unique_ptr<test::ServerHarness> server_;
    std::unique_ptr<test::TestController> controller_;
    bool connected_ = false;
    int seq_ = 0;
    uint32_t tclk_ = 0;
    std::optional<uint8_t> leds_;  // as the displays answered set them
    std::optional<bool> keying_;   // a keying in progress filters sources
    std::vector<unsigned> made_;
    std::map<std::pair<unsigned, std::string>, Asked> asked_;  // by slot and kind
    std::map<unsigned, unsigned> signals_;                     // by slot
    std::ostringstream faults_, failed_;
};

}  // namespace day
