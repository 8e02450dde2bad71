#pragma once
// Scriptable slots for tests of the slot framework. TestSlotFactory takes the
// `spi-tdm` creation alternative (no factory of the server does); the
// alternative's `channel` picks the script of the new slot. A scripted slot
// has switch channels of its own, streams or not, a connection priority,
// hooks that accept or refuse, a shutdown that ends at once, on a timer,
// when the test says or never, and perhaps an entry in the factory's side
// list (as the modem factory keeps its modems). Every hook call is
// journaled.
//
//   auto& factory = test::TestSlotFactory::instance();
//   factory.scripts[7].shutdown = test::Shutdown::WhenTold;
//   controller.send(test::create_command(7), 1, 40);   // slot 40, script 7
//   ...
//   test::scripted(40)->finish();                       // its shutdown ends
//   EXPECT_EQ("", test::graph_faults());

#include <functional>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "board/sim/hal_model.h"
#include "runtime/timer.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"
#include "tests/support/slot_commands.h"

namespace test {

enum class Shutdown { AtOnce, OnTimer, WhenTold, Never };

struct SlotScript {
    // Unset: a pair of shared-bus channels of the slot's own.
    std::optional<int> transmit;
    std::optional<int> receive;
    bool output = true;  // IOnOutputStream
    bool input = true;   // IOnInputStream
    int priority = 0;
    bool refuse = false;  // IActivate, IDeactivate, IUserData and Ioctl answer false
    Shutdown shutdown = Shutdown::AtOnce;
    unsigned shutdownMs = 100;  // Shutdown::OnTimer
    bool sideList = false;
    // IAfterCreate reports the output stream.
    bool announce = false;
    // A driver gave it its channels: it holds them (Slot::HoldChannel),
    // shared with the slots that hold them under the same `share`.
    bool holds = false;
    const void* share = nullptr;
    // The factory names the parameters invalid, or declines them.
    bool invalid = false;
    bool decline = false;
    // Called from IOnInputRelease after it is journaled (may rewire).
    std::function<void(Slot&)> onInputRelease;
};

class ScriptedSlot;

class TestSlotFactory : public SlotFactory {
public:
    static TestSlotFactory& instance();

    const char* GetName() const override { return "test"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    void Query(LGCP::Resources&) override {}

    // Scripts by the spi-tdm channel; others get the default script.
    std::map<int, SlotScript> scripts;
    // "<hook> <slot>[ <other slot>]" per hook call, in order.
    std::vector<std::string> journal;
    // Slots whose script asks for it, from creation to the end of their
    // shutdown (or their forced release).
    std::list<ScriptedSlot*> side;

    // Scripts and journal forgotten, channels counted from the first again.
    void reset();
    // The journal's lines that contain `text`.
    std::vector<std::string> journaled(const std::string& text) const;

private:
    TestSlotFactory() = default;
    unsigned serial_ = 0;
};

class ScriptedSlot : public Slot {
public:
    ScriptedSlot(const SlotScript& script, int transmit, int receive);
    ~ScriptedSlot() override;

    const char* GetName() const override { return "test"; }
    // Ends a shutdown that waits (WhenTold, OnTimer): the slot is gone after.
    void finish();
    bool shutting_down() const { return shuttingDown_; }

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    void IForcedRelease() override;
    bool IActivate(const TERM::TermActivateParams&) override;
    bool IDeactivate() override;
    bool IUserData(const std::vector<char>&) override;
    bool Ioctl(const LGCP::IoctlParams&) override;
    int GetConnectionPriority() override { return script_.priority; }
    bool IHwConnectTransmitter(Slot& destination) override;
    bool IHwConnectReceiver(Slot& source) override;
    bool IHwDisconnectTransmitter(Slot& destination) override;
    bool IHwDisconnectReceiver(Slot& source) override;
    bool IOnOutputStream() override;
    bool IOnInputStream() override;
    void IOnOutputRelease() override;
    void IOnInputRelease() override;
    // Forgets its channels.
    void IReleaseHardware() override;
    int IGetTransmitChannel() override { return transmit_; }
    int IGetReceiveChannel() override { return receive_; }

private:
    bool note(const char* hook, bool result = true, const Slot* other = nullptr);
    void LeaveSideList();

    SlotScript script_;
    int transmit_;
    int receive_;
    bool shuttingDown_ = false;
    Timer timer_;
};

// The scripted slot at a number, null when none.
ScriptedSlot* scripted(unsigned number);

LGCP::Command create_command(int script);

// What breaks the graph's invariants (each slot is its source's receiver
// exactly once, lists sorted, every slot listed and numbered where the
// registry and its factory say, the trunk and map factories' channel
// entries naming live slots that hold those channels); empty when they hold.
std::string graph_faults();
// Where the switch disagrees with the graph: a receiver's channel carries
// its source's, or the channel of the open D channel of its PSTN or HDLC
// source that transmits there; an unconnected one (or one whose source
// lost its hardware) carries no channel. Empty when agreed. Where several
// slots receive on a channel, the switch's record says whose path it
// carries: each receiver it names has that source, the others no live
// one, unless the controller named the channel twice; the slots of one
// mixer channel each carry their live source. An open D channel hears what
// its slot receives from, and a channel no live slot receives on carries
// no path (but an open D channel's own). Channels `excused` names are not
// judged (those the switch still owes a change, while the driver refuses).
std::string switch_faults(const board::sim::HalModel& fabric,
                          const std::function<bool(int channel)>& excused = nullptr);
// Slots left in the registry, any factory's list, the side list or a
// trunk or map channel entry.
std::string leftovers();

}  // namespace test
