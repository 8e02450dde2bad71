#include "slots/voice_factory.h"

#include <errno.h>
#include <fcntl.h>

#include <cstring>
#include <iostream>
#include <utility>

#include "board/devio.h"
#include "runtime/ext_output.h"
#include "slots/voice_slots.h"

namespace mcc = board::mcc;

namespace {

// {type, receive packet size, 0, receive threshold, transmit threshold}
constexpr mcc::mcc_allocation kPlayerChannel{mcc::kTransparent, 1024, 0, 0, 5};
constexpr mcc::mcc_allocation kRecorderChannel{mcc::kTransparent, 1024, 0, 5, 0};

}  // namespace

std::string dhost2str(const TERM::HostAddress& host) {
    return host.get_iaddr() + ":" + std::to_string(host.get_port().getValue());
}

void VoiceFactory::PutHeader(std::ostream& os) const {
    os << "voice/mcc"
       << "[" << counter_ << "]: ";
}

Slot* VoiceFactory::INewSlot(const LGCP::CreateParams& params) {
    const LGCP::VoiceParams* voice = params.get_voice();
    if (!voice) return nullptr;
    if (const TERM::HostAddress* host = voice->get_record()) return CreateRecord(dhost2str(*host));
    if (const LGCP::PlayerParams* player = voice->get_player()) return CreatePlay(*player);
    return nullptr;
}

Fd VoiceFactory::OpenChannel(int flags, const char* direction, mcc::mcc_allocation record,
                             int& timeslot) {
    Fd channel(board::open(mcc::kDevice, flags | O_NONBLOCK | O_CLOEXEC));
    if (!channel) {
        const int error = errno;
        std::cerr << ext::header(this) << "fail to open /dev/mcc/ctl device for " << direction
                  << ": " << std::strerror(error) << std::endl;
        return Fd();
    }
    if (board::ioctl(channel.get(), mcc::MCC_ALLOCATE, &record) < 0) {
        const int error = errno;
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(error)
                  << std::endl;
        return Fd();
    }
    timeslot = board::ioctl_value(channel.get(), mcc::MCC_TIMESLOT, 0);
    if (timeslot < 0) {
        std::cerr << ext::header(this) << "MCC_TIMESLOT request failed." << std::endl;
        return Fd();
    }
    return channel;
}

// A player of a kind this server does not know allocates nothing.
Slot* VoiceFactory::CreatePlay(const LGCP::PlayerParams& params) {
    const LGCP::PlayerParams_network* network = params.get_network();
    const LGCP::PlayerParams_file* file = params.get_file();
    if (!network && !file) return nullptr;
    int timeslot;
    Fd channel = OpenChannel(O_WRONLY, "writing", kPlayerChannel, timeslot);
    if (!channel) return nullptr;
    PlaySlotGeneric* slot =
        network ? static_cast<PlaySlotGeneric*>(
                      new PlaySlotNetwork(std::move(channel), timeslot, *network))
                : new PlaySlotFile(std::move(channel), timeslot, *file);
    players_.push_back(slot);
    return slot;
}

Slot* VoiceFactory::CreateRecord(const std::string& host) {
    int timeslot;
    Fd channel = OpenChannel(O_RDONLY, "reading", kRecorderChannel, timeslot);
    if (!channel) return nullptr;
    auto* slot = new RecordSlot(host, timeslot, std::move(channel));
    recorders_.push_back(slot);
    return slot;
}

void VoiceFactory::OnDestroy(RecordSlot* slot) {
    recorders_.remove(slot);
}

void VoiceFactory::OnDestroy(PlaySlotGeneric* slot) {
    players_.remove(slot);
}

void VoiceFactory::reset_for_test() {
    recorders_.clear();
    players_.clear();
}
