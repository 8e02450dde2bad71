#include "signalling/isdn_slot.h"

#include <errno.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "board/devio.h"
#include "board/drivers/dsp_data.h"
#include "runtime/descriptor_end.h"
#include "signalling/link_reports.h"
#include "signalling/message_size.h"

namespace dsp_data = board::dsp_data;

// ---- IsdnSlot

IsdnSlot::IsdnSlot(const Fd& device, int channel, ISDN::LAPD* link, const char* eventName)
    : channel_(channel), link_(link) {
    link_->set_notify(this);
    link_->set_hdlc(this);
    add_protocol_tail(link_);
    HoldChannel(channel);
    event_.Bind(eventName, &IsdnSlot::OnEvent, this);
    event_.Schedule(device, POLLIN | POLLOUT);
}

// The device is opened at creation only: once it has ended, the link
// could never come up.
bool IsdnSlot::IActivate(const TERM::TermActivateParams&) {
    if (hardwareLost()) {
        std::cerr << static_cast<const Slot&>(*this) << ": device closed, activate refused"
                  << std::endl;
        return false;
    }
    deactivationOwed_ = true;
    activate();
    return true;
}

bool IsdnSlot::IDeactivate() {
    deactivate();
    return true;
}

bool IsdnSlot::IUserData(const std::vector<char>& data) {
    if (hardwareLost()) {
        if (refused_.admit())
            std::cerr << static_cast<const Slot&>(*this) << ": device closed, userData refused"
                      << refused_ << std::endl;
        return false;
    }
    if (!message_fits(*this, data.size(), ISDN::LAPD::N201, tooLong_)) return false;
    Packet p;
    prepare_head(p);
    p.put(data.data(), static_cast<unsigned>(data.size()));
    message(p);
    return true;
}

void IsdnSlot::SendIsdnStatistics() {
    LGCP::IoctlResponse report;
    if (IsdnLinkReport(*link_, report)) OnIoctlResponse(report);
}

void IsdnSlot::on_activated(Protocol*) {
    deactivationOwed_ = true;
    SendIsdnStatistics();
    OnActivated();
}

// Once the device is gone the slot has said `deactivated` itself: the link,
// which fails by its timers, does not say it again.
void IsdnSlot::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {
    if (hardwareLost() && !deactivationOwed_) return;
    deactivationOwed_ = false;
    SendIsdnStatistics();
    OnDeactivated();
}

void IsdnSlot::on_message(Packet& p) {
    const unsigned char* data = p.data();
    OnUserData(std::vector<char>(data, data + p.length()));
}

bool IsdnSlot::hdlc_transmit(Packet& frame) {
    if (frame.length() == 0) return true;
    if (!is_open()) return false;
    switch (write_frame(device(), frame)) {
    case FrameWrite::written:
        return true;
    case FrameWrite::busy:
        ready_ = false;
        event_.Schedule(POLLIN | POLLOUT);
        return false;
    case FrameWrite::failed:
        break;
    }
    return false;
}

void IsdnSlot::OnEvent(int, short revents) {
    if (CallsForRead(revents)) ReadFrame(revents);
    if ((revents & POLLOUT) && !ready_ && is_open()) {
        ready_ = true;
        event_.Schedule(POLLIN);
        link_->on_hdlc_ready();
    }
}

void IsdnSlot::ReadFrame(short revents) {
    Packet frame;
    if (const char* failure = read_frame(device(), revents, frame)) {
        std::cerr << static_cast<const Slot&>(*this) << ": read error: " << failure
                  << ", device closed" << std::endl;
        LetGoOfHardware(Loss::silent);
        if (!deactivationOwed_) return;
        deactivationOwed_ = false;
        return OnDeactivated();
    }
    if (frame.length() > 0) receive(frame);
}

void IsdnSlot::IReleaseHardware() {
    Release();
    channel_ = -1;
}

// ---- AtsQsigSlot

AtsQsigSlot::AtsQsigSlot(const Fd& device, int channel, ISDN::LAPD* link)
    : IsdnSlot(device, channel, link, "AtsQsigSlot::OnEvent") {}

AtsQsigSlot::~AtsQsigSlot() {
    for (AtsQsigBSlot* b : bChannels_) b->signalling_ = nullptr;
}

bool AtsQsigSlot::IBeforeDestroy() {
    LetGoOfBChannels();
    Release();
    return true;
}

void AtsQsigSlot::IReleaseHardware() {
    LetGoOfBChannels();
    IsdnSlot::IReleaseHardware();
}

// Before the device closes: their channels are switched off while still
// theirs. The close frees every B channel, those whose removal is owed too.
void AtsQsigSlot::LetGoOfBChannels() {
    const std::vector<AtsQsigBSlot*> bChannels = bChannels_;
    for (AtsQsigBSlot* b : bChannels) b->LetGoOfHardware(Loss::silent);
    removals_.clear();
}

// The driver keeps a B channel whose removal it refused: the removal owed
// comes first, or the add would be refused for the old call's channel.
AtsQsigBSlot* AtsQsigSlot::NewBChannel(unsigned index) {
    dsp_data::b_channel record{static_cast<int32_t>(index), -1};
    if (!removals_.pay(record.index) ||
        board::ioctl(device(), dsp_data::kAddBChannel, &record) < 0) {
        std::cerr << "ats-qsig: " << "add B channel fail !!!" << std::endl;
        return nullptr;
    }
    auto* b = new AtsQsigBSlot(*this, index, record.tdm);
    bChannels_.push_back(b);
    return b;
}

void AtsQsigSlot::RemoveBChannel(AtsQsigBSlot& b) {
    const int32_t index = static_cast<int32_t>(b.index());
    if (is_open()) removals_.settle(index);
    bChannels_.erase(std::remove(bChannels_.begin(), bChannels_.end(), &b), bChannels_.end());
    b.signalling_ = nullptr;
}

bool AtsQsigSlot::Remove(int32_t index) {
    int32_t request = index;
    if (board::ioctl(device(), dsp_data::kRemoveBChannel, &request) >= 0 || errno == ENOENT)
        return true;
    const int error = errno;
    if (removeRefused_.admit())
        std::cerr << "ats-qsig: remove B channel " << index << " fail: " << std::strerror(error)
                  << ", tried again" << removeRefused_ << std::endl;
    return false;
}

// ---- AtsQsigBSlot

AtsQsigBSlot::AtsQsigBSlot(AtsQsigSlot& signalling, unsigned index, int channel)
    : signalling_(&signalling), index_(index), channel_(channel) {
    HoldChannel(channel);
}

AtsQsigBSlot::~AtsQsigBSlot() {
    if (!signalling_) return;
    auto& list = signalling_->bChannels_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

bool AtsQsigBSlot::IBeforeDestroy() {
    if (signalling_)
        signalling_->RemoveBChannel(*this);
    else
        std::clog << *this << ": Can't find signalling slot" << std::endl;
    return true;
}
