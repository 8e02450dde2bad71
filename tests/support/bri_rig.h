#pragma once
// A BRI line for link tests, in virtual time: the network side
// (`ISDN::LAPD_NT`) on the bus's network port and BRI user links on its
// terminal ports.
//
//   test::VirtualLoop loop;            // first: the bus lives in its loop
//   test::BriRig rig(2);               // two terminals
//   rig.bus.network.hdlc_transmit(...) // a scripted network frame
//   rig.terminal(0).activate();  loop.advance(100);

#include <memory>
#include <string>
#include <vector>

#include "signalling/lapd.h"
#include "signalling/lapd_nt.h"
#include "tests/support/hdlc_pair.h"
#include "tests/support/link_owner.h"

namespace test {

// `ISDN::LAPD_NT` at the bottom of a family that records what it reports,
// as the signalling slot holds it: the layer sends on `port`, and what the
// port hears goes to the layer's `receive`, its readiness to the layer.
class NtOnPort : public LinkOwner, public HDLC::Notify {
public:
    explicit NtOnPort(HdlcEnd& port);
    ~NtOnPort() override;

    ISDN::LAPD_NT& nt() { return *nt_; }
    // One layer-3 message from above, made as the slot makes them.
    void send(const std::string& octets);

    void on_hdlc_receive(Packet& frame) override { receive(frame); }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override { nt_->on_hdlc_ready(); }

private:
    HdlcEnd& port_;
    ISDN::LAPD_NT* nt_;  // owned by the family
};

struct BriRig {
    explicit BriRig(unsigned terminals = 8);
    ~BriRig();

    ISDN::LAPD& terminal(unsigned index) { return *terminals[index]; }
    LinkOwner& owner(unsigned index) { return *owners[index]; }
    // Whether terminal i is established on a link that the network holds
    // for its TEI and has heard it on since the assignment.
    bool on_a_link(unsigned index);
    unsigned terminals_on_links();
    // Terminal i draws the Ri (i + 1) << 8, then that plus 1, 2 ...
    static unsigned first_ri(unsigned index) { return (index + 1) << 8; }
    // A Q.931 message of call reference `cr` (one octet) and type `type`,
    // then `rest`.
    static std::string q931(unsigned cr, unsigned char type, const std::string& rest = "");
    // Keeps every frame on the bus, in order: "n 127: ID remove ri=0000
    // ai=127", "t2 64: SABME P cmd" (a frame lost on the way is still listed).
    void trace_frames();

    BriBus bus;
    NtOnPort network;
    std::vector<ISDN::LAPD*> terminals;  // owned by their owners
    std::vector<std::unique_ptr<LinkOwner>> owners;
    std::vector<std::string> trace;
};

}  // namespace test
