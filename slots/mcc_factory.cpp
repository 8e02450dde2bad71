#include "slots/mcc_factory.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>

#include <cstring>
#include <iostream>
#include <sstream>

#include "board/devio.h"
#include "board/drivers/mcc.h"
#include "runtime/descriptor_end.h"
#include "runtime/ext_output.h"

namespace mcc = board::mcc;

// ---- MccSlot

MccSlot::MccSlot(Fd channel, int timeslot) : channel_(std::move(channel)), timeslot_(timeslot) {
    HoldChannel(timeslot);
    event_.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
    event_.Schedule(channel_, POLLIN);
}

// A packet the driver did not take whole is lost: the controller hears so.
bool MccSlot::IUserData(const std::vector<char>& data) {
    if (hardwareLost()) {
        if (refused_.admit())
            std::cerr << "mcc: " << *this << " channel ended, userData refused" << refused_
                      << std::endl;
        return false;
    }
    const ssize_t written = board::write(channel_.get(), data.data(), data.size());
    if (written == static_cast<ssize_t>(data.size())) return true;
    if (written < 0) {
        const int error = errno;
        if (writeFailed_.admit())
            std::cerr << "mcc: " << *this << " write fail: " << std::strerror(error) << writeFailed_
                      << std::endl;
    } else {
        std::cerr << "mcc: " << *this << " short write: " << written << " of " << data.size()
                  << " bytes" << std::endl;
    }
    return false;
}

void MccSlot::OnEvent(int, short revents) {
    DoRead(revents);
}

// A burst of packets at most: the rest wait for the next pass.
void MccSlot::DoRead(short revents) {
    char buffer[MccFactory::kReadSize];
    const char* ended = ReadEvent(
        revents, [&] { return board::read(channel_.get(), buffer, sizeof buffer); },
        [&](ssize_t n) { OnUserData(std::vector<char>(buffer, buffer + n)); });
    if (ended) ChannelEnded(ended);
}

// The controller hears of it at its next userData. Closing the descriptor
// frees the channel in the driver, for the next slot: the slot lets go of it.
void MccSlot::ChannelEnded(const char* why) {
    std::ostringstream what;
    what << "mcc: " << *this << " read fail: ";
    EndWatch(event_, what.str(), why);
    LetGoOfHardware(Loss::silent);
}

void MccSlot::IReleaseHardware() {
    channel_.close();
    timeslot_ = -1;
}

// ---- MccFactory

void MccFactory::PutHeader(std::ostream& os) const {
    os << "mcc: ";
}

namespace {

// The driver's channel type; -1 for a value it has none for.
int ChannelType(const LGCP::MccParams& params) {
    if (params.get_mode().getValue() == LGCP::MccMode::ss7) return mcc::kSs7;
    switch (params.get_type().getValue()) {
        case LGCP::MccType::data:
            return mcc::kData;
        case LGCP::MccType::bri:
            return mcc::kBri;
        case LGCP::MccType::transparent:
            return mcc::kTransparent;
        default:
            return -1;
    }
}

}  // namespace

// Declines (the descriptor closed) unless the channel is allocated and has
// a timeslot: a slot without one could never be wired.
Slot* MccFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::MccParams* p = params.get_mcc();
    if (!p) return nullptr;
    Fd channel(board::open(mcc::kDevice, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!channel) {
        const int error = errno;
        std::cerr << ext::header(this) << "fail to open MCC device: " << std::strerror(error)
                  << std::endl;
        return nullptr;
    }
    const int type = ChannelType(*p);
    if (type < 0) return nullptr;

    mcc::mcc_allocation record{static_cast<uint32_t>(type), kRxPacketSize, 0, 1, 1};
    std::clog << ext::header(this) << "MCC_ALLOCATE"
              << " type=" << type << std::endl;
    if (board::ioctl(channel.get(), mcc::MCC_ALLOCATE, &record) < 0) {
        const int error = errno;
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(error)
                  << std::endl;
        return nullptr;
    }
    const int timeslot = board::ioctl_value(channel.get(), mcc::MCC_TIMESLOT, 0);
    if (timeslot < 0) {
        const int error = errno;
        std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << std::strerror(error)
                  << std::endl;
        return nullptr;
    }
    auto* slot = new MccSlot(std::move(channel), timeslot);
    if (slot->watched()) return slot;
    // A channel the loop cannot watch would never be read: declined as one
    // that did not open. The slot's constructor watches last, so errno is
    // still the watch's.
    const int error = errno;
    delete slot;
    std::cerr << ext::header(this) << "watch fail: " << std::strerror(error) << std::endl;
    return nullptr;
}

// A shortage of descriptors says nothing about the channels, nor does a
// request the driver refused: the counts stay until the next query.
void MccFactory::IQuery() {
    Fd device(board::open(mcc::kDevice, O_RDONLY | O_CLOEXEC));
    mcc::mcc_resources counted{};
    if (!device && !NoDescriptorFree(errno)) {
        free_ = {};
        return;
    }
    if (!device || board::ioctl(device.get(), mcc::MCC_RESOURCES, &counted) < 0) {
        const int error = errno;
        std::cerr << ext::header(this);
        if (device)
            std::cerr << "MCC_RESOURCES fail: ";
        else
            std::cerr << "device " << ext::quoted(mcc::kDevice) << " open fail: ";
        std::cerr << std::strerror(error) << ", the counts stay" << std::endl;
        return;
    }
    free_ = counted;
}

void MccFactory::Query(LGCP::Resources& resources) {
    resources.set_mcc_data(static_cast<int>(free_.data));
    resources.set_mcc_bri(static_cast<int>(free_.bri));
    resources.set_mcc_trans(static_cast<int>(free_.transparent));
}
