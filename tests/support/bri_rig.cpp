#include "tests/support/bri_rig.h"

#include "tests/support/lapd_frames.h"

namespace test {

NtOnPort::NtOnPort(HdlcEnd& port) : LinkOwner(new ISDN::LAPD_NT), port_(port) {
    nt_ = static_cast<ISDN::LAPD_NT*>(bottom());
    nt_->set_hdlc(&port_);
    port_.bind(this);
}

NtOnPort::~NtOnPort() { port_.bind(nullptr); }

void NtOnPort::send(const std::string& octets) {
    send_down(*this, octets);
}

BriRig::BriRig(unsigned count) : bus(count), network(bus.network) {
    for (unsigned i = 0; i < count; ++i) {
        auto* link = new ISDN::LAPD;
        owners.emplace_back(new LinkOwner(link));
        terminals.push_back(link);
        link->set_side(ISDN::Side::user);
        link->set_trunk(i);
        link->change_to_bri();
        link->set_ri_source(
            [ri = first_ri(i)]() mutable { return static_cast<unsigned short>(ri++); });
        link->set_hdlc(&bus.terminal(i));
        bus.terminal(i).bind(link);
    }
}

BriRig::~BriRig() {
    for (unsigned i = 0; i < bus.terminals(); ++i) bus.terminal(i).bind(nullptr);
}

bool BriRig::on_a_link(unsigned index) {
    const auto& s = terminal(index).full_state();
    if (s.state != ISDN::multiple_frame_established) return false;
    for (unsigned l = 0; l < ISDN::LAPD_NT::links; ++l) {
        const ISDN::LAPD_NT_user& link = network.nt().link(l);
        if (link.state() != ISDN::LAPD_NT_user::unassigned && link.tei() == s.selfTEI)
            return !link.establishing();
    }
    return false;
}

unsigned BriRig::terminals_on_links() {
    unsigned on = 0;
    for (unsigned i = 0; i < bus.terminals(); ++i) on += on_a_link(i);
    return on;
}

std::string BriRig::q931(unsigned cr, unsigned char type, const std::string& rest) {
    return std::string{'\x08', '\x01', static_cast<char>(cr), static_cast<char>(type)} + rest;
}

void BriRig::trace_frames() {
    bus.network.add_tap([this](const Packet& frame, bool sent) {
        if (sent) trace.push_back("n " + lapd::describe_on_bus(frame, true));
    });
    for (unsigned i = 0; i < bus.terminals(); ++i)
        bus.terminal(i).add_tap([this, i](const Packet& frame, bool sent) {
            if (!sent) return;
            trace.push_back("t" + std::to_string(i) + " " + lapd::describe_on_bus(frame, false));
        });
}

}  // namespace test
