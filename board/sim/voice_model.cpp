#include "board/sim/voice_model.h"

#include <errno.h>

#include <cstring>

#include "board/drivers/rtp.h"
#include "board/sim/model_support.h"
#include "board/sim/rtp_model.h"

namespace board::sim {

void VoiceModel::reset() {
    capacity.clear();
    std::memset(&version, 0, sizeof version);
    absent = false;
}

int VoiceModel::open(Channel&) {
    return absent ? refuse(ENOENT) : 0;
}

int VoiceModel::ioctl(Channel&, uint32_t request, void* arg) {
    if (arg == nullptr) return refuse(EFAULT);
    if (request == voice::kCapacity) return Capacity(record_of<int32_t>(arg));
    if (request == voice::kVersion) {
        std::memcpy(arg, &version, sizeof version);
        return 0;
    }
    return refuse(ENOTTY);
}

int VoiceModel::Capacity(int32_t mask) const {
    auto it = capacity.find(mask);
    if (it != capacity.end()) return it->second;
    if (mask != voice::kG711) return 0;
    auto* rtp = Board::instance().model_as<RtpModel>(rtp::kDevice);
    return rtp ? rtp->free_channels() : 0;
}

}  // namespace board::sim
