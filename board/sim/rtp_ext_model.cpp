#include "board/sim/rtp_ext_model.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "board/drivers/rtp.h"
#include "board/sim/model_support.h"

namespace board::sim {

using namespace rtp_ext;

bool RtpExtModel::Session::passes(uint32_t addr, uint32_t ssrc) const {
    if (!filter || !enforce_filter) return true;
    return filter->addr == addr && (filter->ssrc == 0 || filter->ssrc == ssrc);
}

bool RtpExtModel::Session::inject(const std::vector<uint8_t>& bytes, uint32_t addr, uint32_t ssrc) {
    if (!passes(addr, ssrc)) return false;
    received.push_back(Packet{bytes, addr, ssrc});
    channel_.raise_input();
    return true;
}

int RtpExtModel::open(Channel& channel) {
    if (absent) return refuse(ENOENT);
    sessions_.erase(&channel);
    sessions_.emplace(&channel, Session(channel));
    return 0;
}

void RtpExtModel::close(Channel& channel) {
    sessions_.erase(&channel);
}

void RtpExtModel::reset() {
    sessions_.clear();
    absent = false;
}

RtpExtModel::Session* RtpExtModel::session(const Channel& channel) {
    auto it = sessions_.find(&channel);
    return it == sessions_.end() ? nullptr : &it->second;
}

RtpExtModel::Session* RtpExtModel::session(int fd) {
    Channel* channel = Board::instance().channel(fd);
    return channel ? session(*channel) : nullptr;
}

std::vector<RtpExtModel::Session*> RtpExtModel::sessions() {
    std::vector<Session*> out;
    for (Channel* channel : Board::instance().channels(kDevice))
        if (Session* s = session(*channel)) out.push_back(s);
    return out;
}

// The RTP session must be an open of "/dev/rtp" in this process, named by
// this process's id or by -1.
int RtpExtModel::Attach(Session& session, const rtp_ext_attach_session_params& record) {
    Channel* rtp = Board::instance().channel(record.fd_rtp);
    const bool ownProcess = record.pid_rtp == -1 || record.pid_rtp == ::getpid();
    if (rtp == nullptr || rtp->path() != board::rtp::kDevice || !ownProcess) return refuse(EBADF);
    session.attach = record;
    session.rtp = rtp;
    return 0;
}

int RtpExtModel::ioctl(Channel& channel, uint32_t request, void* arg) {
    Session& s = *session(channel);
    if (arg == nullptr) return refuse(EFAULT);
    switch (request) {
        case kInit:
            s.init = record_of<rtp_ext_init_params>(arg);
            return 0;
        case kAttach:
            if (!s.init) return refuse(EINVAL);
            return Attach(s, record_of<rtp_ext_attach_session_params>(arg));
        case kDetach:
            if (!s.attach) return refuse(EINVAL);
            s.attach.reset();
            s.rtp = nullptr;
            return 0;
        case kReceiveInfo: {
            if (s.received.empty()) return refuse(EAGAIN);
            const rtp_ext_receive_info info{s.received.front().ssrc, s.received.front().addr, 0};
            std::memcpy(arg, &info, sizeof info);
            return 0;
        }
        case kSetFilter:
            s.filter = record_of<rtp_ext_source_filter>(arg);
            return 0;
        case kRemoveFilter:
            s.filter.reset();
            return 0;
    }
    return refuse(ENOTTY);
}

ssize_t RtpExtModel::read(Channel& channel, void* buf, size_t length) {
    Session& s = *session(channel);
    if (s.received.empty()) return refuse(EAGAIN);
    const std::vector<uint8_t> bytes = std::move(s.received.front().bytes);
    s.received.pop_front();
    if (s.received.empty()) channel.lower_input();
    const size_t n = std::min(length, bytes.size());
    std::copy_n(bytes.begin(), n, static_cast<uint8_t*>(buf));
    return static_cast<ssize_t>(n);
}

ssize_t RtpExtModel::write(Channel& channel, const void* data, size_t length) {
    Session& s = *session(channel);
    if (!s.init || length > kMaxExtension) return refuse(EINVAL);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (journaled) s.sent.emplace_back(bytes, bytes + length);
    return static_cast<ssize_t>(length);
}

}  // namespace board::sim
