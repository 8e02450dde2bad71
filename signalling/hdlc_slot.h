#pragma once
// The HDLC data slot: raw addressed HDLC frames between the controller and a
// device on a TDM channel, over an HDLC channel of its own. The controller
// sends packages in an `ioctl`; each leaves as one frame {address, control,
// body}, the control byte carrying the slot's send counter (bits 7-5) and
// the last counter the device sent (bits 2-0). Frames that come back with
// the slot's address are collected into one `ioctl` signal per response:
// bit 7 of a frame's fifth byte set means more frames follow (within 100 ms).
// The channel's statistics go out every 3 seconds.
//
// The channel serves one TDM channel both ways: that of the slot's live link
// made last (its source's transmit channel, or a receiver's receive
// channel). It is open while the slot has such a link; it transmits into
// the channel while no other slot feeds it. A source whose transmit channel
// is not its receive channel (a map slot on the shared bus, a mixer output)
// is heard there and fed only while the slot is wired to it too, into its
// receive channel.

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "link/packet.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"
#include "signalling/clean_queue.h"
#include "signalling/d_channel_slot.h"
#include "signalling/hdlc.h"

class HdlcSlot : public DChannelSlot {
public:
    static constexpr unsigned queue_capacity = 120;
    static constexpr unsigned update_ms = 3000;
    static constexpr unsigned flush_ms = 100;

    explicit HdlcSlot(const LGCP::HdlcParams& params);

    const char* GetName() const override { return "hdlc-slot"; }
    bool IActivate(const TERM::TermActivateParams& params) override;
    bool IDeactivate() override { return true; }
    // `hdlcPackages` only; false too when the queue had to drop some, and
    // while the channel is closed after it ended.
    bool Ioctl(const LGCP::IoctlParams& params) override;

    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    // Drains the queue.
    void on_hdlc_ready() override;

    void PutHeader(std::ostream& os) const;
    const HDLC& channel() const { return channel_; }
    unsigned queued() const { return queue_.count(); }

protected:
    HDLC& Channel() override { return channel_; }
    Wants IWants() override;
    void IStartLink() override;
    void IMoveLink() override { IStartLink(); }

private:
    // Queues one package as a frame; false when the queue is full or the
    // packet pool low.
    bool enqueue(const std::vector<char>& body);
    void enqResponce(const Packet& frame);
    void flushResponce();
    void UpdateHDLC_Statistics();
    void OnUpdateTimer();

    HDLC channel_;
    LGCP::IoctlResponse pending_;
    unsigned trunkIndex_;
    Timer updateTimer_;
    Timer flushTimer_;
    CleanQueue<Packet, queue_capacity> queue_;
    uint16_t address_;
    uint8_t sendCounter_ = 0;
    uint8_t peerCounter_ = 0;
    // Lines of a controller that sends faster than the line takes, or on
    // after the channel ended.
    LogThrottle refused_;
    LogThrottle queueFull_;
};
