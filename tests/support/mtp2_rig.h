#pragma once
// Two SS7 links back to back on an in-memory line, each in a family that
// records its reports, with a trace of the units on the line.
//
//   test::VirtualLoop loop;
//   test::Mtp2Rig rig;
//   rig.align(loop);                       // both in service
//   rig.send(*rig.a, test::Mtp2Rig::msu(7));
//   loop.advance(10);

#include <memory>
#include <string>
#include <vector>

#include "signalling/mtp2.h"
#include "tests/support/hdlc_pair.h"
#include "tests/support/link_owner.h"
#include "tests/support/virtual_loop.h"

namespace test {

struct Mtp2Rig {
    Mtp2Rig();
    ~Mtp2Rig();

    // Activates side a and runs the loop through proving until both sides
    // are in service.
    void align(VirtualLoop& loop);
    // One MSU payload from above, made as the owner makes them.
    static void send(SS7::SLC& link, const std::string& payload);
    // The n-th test payload: an SIO octet, n, and a filler; 3 to 280
    // octets long, the length and the octets depending on n.
    static std::string msu(unsigned n);
    static std::vector<std::string> msus(unsigned first, unsigned count);
    // Units seen on the line, in order: "a: SIO", "b: FISU 127/1 127/1";
    // a unit lost on the way is still listed by its sender.
    void trace_units();

    HdlcPair line;
    SS7::SLC* a;  // owned by aOwner
    SS7::SLC* b;  // owned by bOwner
    std::unique_ptr<LinkOwner> aOwner;
    std::unique_ptr<LinkOwner> bOwner;
    std::vector<std::string> trace;
};

}  // namespace test
