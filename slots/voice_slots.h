#pragma once
// Voice players put recorded speech onto a TDM timeslot; voice recorders
// take a timeslot's audio away to the network. Each rides on a transparent
// channel of the multi-channel controller, whose descriptor is written to
// play and read to record; the event loop's copier moves the bytes, as
// they are, between it and a TCP connection or a file under
// "/usr/local/voice/".
//
//   PlaySlotNetwork: connects when its output is first wanted, sends the
//                    stream id, plays what the peer sends until it closes.
//   PlaySlotFile:    plays its phrases in order, `repeat` times (0: until
//                    destroyed); missing phrases are skipped.
//   RecordSlot:      each input start connects and sends the channel's
//                    bytes until the channel's data ends.
//
// A player that has finished sends `abort`; a recorder reports
// `stopRecording` and waits for the controller to destroy it.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "messages/lgcp.h"
#include "runtime/async.h"
#include "runtime/fd.h"
#include "runtime/timer.h"
#include "slots/slot.h"

class VoiceSlot : public Slot {};

class PlaySlotGeneric : public VoiceSlot {
public:
    const char* GetName() const override { return "player"; }
    int IGetTransmitChannel() override { return timeslot_; }
    // Leaves the factory's list.
    bool IBeforeDestroy() override;
    void IForcedRelease() override;

    int timeslot() const { return timeslot_; }
    // "player[<timeslot>]: "
    void PutHeader(std::ostream& os) const;

protected:
    // Takes the allocated channel (no copy that could fail: a slot without
    // its channel would announce a timeslot the driver gives the next
    // create) with the timeslot the factory asked for it: a second request
    // the driver refused would leave a player made without one.
    PlaySlotGeneric(Fd channel, int timeslot);

    int timeslot_;
    Fd channel_;
};

class PlaySlotNetwork : public PlaySlotGeneric {
public:
    enum State { idle, connecting, playing, released };

    PlaySlotNetwork(Fd channel, int timeslot, const LGCP::PlayerParams_network& params);

    // The first call connects; false once the player is released.
    bool IOnOutputStream() override;

    void OnConnect(ASync::Connect::Status::Type status, Fd socket);
    void OnPlayComplete(ASync::Copy::Status::Type status);
    // For good: the stream ends and `abort` goes to the controller.
    void Release();

    State state() const { return state_; }

private:
    std::string host_;
    uint32_t id_;
    State state_ = idle;
    std::unique_ptr<ASync::Copy> copier_;
    std::unique_ptr<ASync::Connect> connector_;
};

class PlaySlotFile : public PlaySlotGeneric {
public:
    PlaySlotFile(Fd channel, int timeslot, const LGCP::PlayerParams_file& params);

    // The first call starts playing; false when no phrase opens (`abort`
    // follows on the next pass) or once the player is released.
    bool IOnOutputStream() override;

    void OnPlayComplete(ASync::Copy::Status::Type status);
    void Release();
    // From the first phrase: false when none opens.
    bool restart();
    // Plays the next phrase that opens; false at the end of the list.
    bool next_phrase();
    void delayed_abort();

private:
    std::unique_ptr<ASync::Copy> copier_;
    Fd file_;
    uint32_t repeat_;  // passes left; 0: endless
    bool started_ = false;
    bool released_ = false;
    Dpc abort_;
    std::vector<std::string> phrases_;
    size_t current_ = 0;
    unsigned long playedThisRound_ = 0;  // bytes since the list began again
};

class RecordSlot : public VoiceSlot {
public:
    // Takes the allocated channel, as a player does.
    RecordSlot(const std::string& host, int timeslot, Fd channel);

    const char* GetName() const override { return "recorder"; }
    int IGetReceiveChannel() override { return timeslot_; }
    void IAfterCreate() override { OnChangeInputStream(true); }
    // Connects anew; true.
    bool IOnInputStream() override;
    bool IBeforeDestroy() override;
    void IForcedRelease() override;

    void OnConnect(ASync::Connect::Status::Type status, Fd socket);
    void OnRecordComplete(ASync::Copy::Status::Type status);
    void StopRecording(LGCP::StopRecordingCause::NamedNumber cause);

    int timeslot() const { return timeslot_; }
    // "recorder[<timeslot>]: "
    void PutHeader(std::ostream& os) const;

private:
    int timeslot_;
    Fd channel_;
    std::string host_;
    std::unique_ptr<ASync::Copy> copier_;
    std::unique_ptr<ASync::Connect> connector_;
};
