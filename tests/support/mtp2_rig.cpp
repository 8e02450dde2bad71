#include "tests/support/mtp2_rig.h"

#include "tests/support/mtp2_units.h"

namespace test {

Mtp2Rig::Mtp2Rig()
    : a(new SS7::SLC), b(new SS7::SLC), aOwner(new LinkOwner(a)), bOwner(new LinkOwner(b)) {
    a->set_hdlc(&line.a);
    b->set_hdlc(&line.b);
    line.a.bind(a);
    line.b.bind(b);
}

Mtp2Rig::~Mtp2Rig() {
    line.a.bind(nullptr);
    line.b.bind(nullptr);
}

void Mtp2Rig::align(VirtualLoop& loop) {
    a->activate();
    for (unsigned ms = 0; ms < 10000; ms += 100) {
        loop.advance(100);
        if (a->state_id() == SS7::SLC::State::worked && b->state_id() == SS7::SLC::State::worked)
            break;
    }
    loop.advance(1);
}

void Mtp2Rig::send(SS7::SLC& link, const std::string& payload) {
    send_down(link, payload);
}

std::string Mtp2Rig::msu(unsigned n) {
    std::string payload = {'\x03', char(n >> 8), char(n)};
    for (unsigned i = 0, filler = n * 37 % 278; i < filler; ++i) payload += char(n + i);
    return payload;
}

std::vector<std::string> Mtp2Rig::msus(unsigned first, unsigned count) {
    std::vector<std::string> payloads;
    for (unsigned n = first; n < first + count; ++n) payloads.push_back(msu(n));
    return payloads;
}

void Mtp2Rig::trace_units() {
    for (HdlcEnd* end : {&line.a, &line.b}) {
        const std::string side = end == &line.a ? "a: " : "b: ";
        end->add_tap([this, side](const Packet& su, bool sent) {
            if (!sent) return;
            trace.push_back(side + mtp2::describe(su));
        });
    }
}

}  // namespace test
