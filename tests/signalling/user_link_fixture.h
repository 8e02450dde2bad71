#pragma once
// A user-side link on an in-memory line, fed scripted network frames; the
// far end keeps what the link sends.

#include <memory>

#include "signalling/lapd.h"
#include "tests/link/packet_pool_check.h"
#include "tests/support/frame_recorder.h"
#include "tests/support/hdlc_pair.h"
#include "tests/support/link_owner.h"
#include "tests/support/virtual_loop.h"

class UserLinkTest : public PacketPoolCheck {
protected:
    // `withTei`: the far end describes frames after their TEI.
    explicit UserLinkTest(bool withTei = false) : peer(false, withTei) {}

    void SetUp() override {
        link = new ISDN::LAPD;
        owner.reset(new test::LinkOwner(link));
        link->set_side(ISDN::Side::user);
        link->set_trunk(3);
        link->set_hdlc(&line->a);
        line->a.bind(link);
        line->b.bind(&peer);
    }
    // Link and line go before the pool is checked.
    void TearDown() override {
        owner.reset();
        line.reset();
        PacketPoolCheck::TearDown();
    }

    // A network frame, then what the link sends in answer.
    std::vector<std::string> feed(Packet frame) {
        link->receive(frame);
        loop.advance(1);
        return peer.take();
    }
    unsigned state() const { return link->full_state().state; }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<test::HdlcPair> line{new test::HdlcPair};
    test::FrameRecorder peer;
    ISDN::LAPD* link = nullptr;
    std::unique_ptr<test::LinkOwner> owner;
};
