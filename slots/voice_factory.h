#pragma once
// The factory of the voice play and record slots (`voice` creations): each
// gets a transparent channel of the multi-channel controller, allocated
// for writing (players) or reading (recorders).

#include <iosfwd>
#include <list>
#include <string>

#include "board/drivers/mcc.h"
#include "messages/lgcp.h"
#include "messages/term.h"
#include "runtime/fd.h"
#include "slots/slot_factory.h"

class PlaySlotGeneric;
class RecordSlot;

// "<address>:<port>", the text the connector takes.
std::string dhost2str(const TERM::HostAddress& host);

class VoiceFactory : public SlotFactory {
public:
    static VoiceFactory& instance() {
        static VoiceFactory factory;
        return factory;
    }

    const char* GetName() const override { return "Voice/mcc"; }
    Slot* INewSlot(const LGCP::CreateParams& params) override;
    // Reports nothing.
    void Query(LGCP::Resources&) override {}

    Slot* CreatePlay(const LGCP::PlayerParams& params);
    Slot* CreateRecord(const std::string& host);
    // The slot is being destroyed: the factory forgets it.
    void OnDestroy(RecordSlot* slot);
    void OnDestroy(PlaySlotGeneric* slot);

    const std::list<RecordSlot*>& recorders() const { return recorders_; }
    const std::list<PlaySlotGeneric*>& players() const { return players_; }
    // "voice/mcc[0]: "
    void PutHeader(std::ostream& os) const;
    // Forgets every slot (the registry has dropped them).
    void reset_for_test();

private:
    VoiceFactory() = default;
    // An open of "/dev/mcc/ctl" (`flags`, failures told as `direction`)
    // with a channel allocated as `record` and its timeslot; invalid when
    // any step failed (logged).
    Fd OpenChannel(int flags, const char* direction, board::mcc::mcc_allocation record,
                   int& timeslot);

    int counter_ = 0;
    std::list<RecordSlot*> recorders_;
    std::list<PlaySlotGeneric*> players_;
};
