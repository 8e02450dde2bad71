#include "runtime/async.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include "board/devio.h"
#include "runtime/inet4_addr.h"

namespace ASync {

namespace {
const short kErrorEvents = POLLERR | POLLHUP | POLLNVAL;
const unsigned kDefaultBufferSize = 1024;

bool would_block() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
}  // namespace

// --- Copy

Copy::~Copy() {
    delete handler_;
}

void Copy::Bind(Handler* handler) {
    delete handler_;
    handler_ = handler;
}

bool Copy::running() const {
    return state_ == Status::copying || state_ == Status::draining || state_ == Status::flushing;
}

void Copy::set_events(const EventsParams& params) {
    params_ = params;
    if (running()) Complete(Status::aborted);
}

bool Copy::set_bufsize(unsigned size) {
    if (size == 0) return false;
    allocate(size);
    if (running()) Complete(Status::aborted);
    return true;
}

void Copy::allocate(unsigned size) {
    bufferSize_ = size;
    buffer_.reset(new char[size]);
}

void Copy::Start(const Fd& source, const Fd& destination) {
    state_ = Status::copying;
    if (&source != &source_) source_ = source;
    if (&destination != &destination_) destination_ = destination;
    sourceEvent_.Release();
    destinationEvent_.Release();
    sourceEvent_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
    destinationEvent_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
    if (!buffer_) allocate(kDefaultBufferSize);
    lastError_ = 0;
    copied_ = 0;
    step_ = &Copy::SrcReady;
    // An end the loop cannot watch (no descriptor left) would stall the copy.
    if (!sourceEvent_.Schedule(source_, 0) || !destinationEvent_.Schedule(destination_, 0)) {
        lastError_ = errno;
        Complete(Status::failed);
        return;
    }
    Progress();
}

void Copy::Stop() {
    if (state_ == Status::copying) EndInput();
}

// A step that completes returns 0 and touches nothing afterwards: the
// handler may have deleted the copy.
void Copy::Progress() {
    while ((this->*step_)()) {
    }
}

int Copy::SrcReady() {
    errno = 0;
    ssize_t n = board::read(source_.get(), buffer_.get(), bufferSize_);
    if (n > 0) {
        position_ = buffer_.get();
        end_ = position_ + n;
        WaitFor(0, params_.destination);
        step_ = &Copy::DstReady;
        return 1;
    }
    if (n == 0) {
        EndInput();
    } else if (would_block()) {
        WaitFor(params_.source, 0);
    } else {
        lastError_ = errno;  // also after some bytes: the copy is not whole
        Complete(Status::failed);
    }
    return 0;
}

int Copy::DstReady() {
    ssize_t n = board::write(destination_.get(), position_, size_t(end_ - position_));
    if (n < 0 && would_block()) {
        WaitFor(0, params_.destination);
        return 0;
    }
    if (n <= 0) {
        lastError_ = n < 0 ? errno : 0;
        Complete(Status::failed);
        return 0;
    }
    copied_ += unsigned(n);
    position_ += n;
    if (position_ < end_) return 1;
    if (state_ == Status::draining) {
        FlushWait();
        return 0;
    }
    WaitFor(params_.source, 0);
    step_ = &Copy::SrcReady;
    return 1;
}

// Only one of the two descriptors is polled at a time; the events keep
// their duplicates, so a new mask needs no descriptor. A source event that
// was released (the source ended or hung up) stays released.
void Copy::WaitFor(uint32_t sourceMask, uint32_t destinationMask) {
    if (sourceEvent_.fd() >= 0 && sourceEvent_.events() != short(sourceMask))
        sourceEvent_.Schedule(short(sourceMask));
    if (destinationEvent_.events() != short(destinationMask))
        destinationEvent_.Schedule(short(destinationMask));
}

void Copy::EndInput() {
    sourceEvent_.Release();
    source_.close();
    if (step_ == &Copy::DstReady)
        state_ = Status::draining;
    else
        FlushWait();
}

void Copy::FlushWait() {
    if (params_.flush == 0) {
        Complete(Status::done);
        return;
    }
    WaitFor(0, params_.flush);
    step_ = &Copy::NotReady;
    state_ = Status::flushing;
}

void Copy::Complete(Status::Type status) {
    if (!running()) return;
    sourceEvent_.UnBind();
    sourceEvent_.Release();
    destinationEvent_.UnBind();
    destinationEvent_.Release();
    state_ = status;
    source_.close();
    destination_.close();
    step_ = &Copy::NotReady;
    if (handler_) handler_->Invoke(status);
}

void Copy::OnSrcEvent(int, short revents) {
    if (revents & short(params_.source)) {
        Progress();
    } else if (revents & kErrorEvents) {
        sourceEvent_.Release();  // the next read tells the end or the error
        Progress();
    }
}

void Copy::OnDstEvent(int, short revents) {
    if (revents & kErrorEvents) {
        lastError_ = 0;
        Complete(Status::failed);
    } else if ((state_ == Status::copying || state_ == Status::draining) &&
               (revents & short(params_.destination))) {
        Progress();
    } else if (state_ == Status::flushing && (revents & short(params_.flush))) {
        Complete(Status::done);
    }
}

// --- Connect

Connect::~Connect() {
    delete handler_;
}

void Connect::Bind(Handler* handler) {
    delete handler_;
    handler_ = handler;
}

void Connect::Start(const std::string& address, unsigned int timeout_ms) {
    state_ = Status::connecting;
    socket_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    INet4::Addr peer;  // port 0 unless the text gives one
    if (!socket_ || !NonBlockMode(socket_.get()) || !peer.Assign(address)) {
        Complete(Status::failed);
        return;
    }
    if (::connect(socket_.get(), peer.sockaddr_ptr(), INet4::Addr::size()) == 0) {
        Complete(Status::connected);
        return;
    }
    if (errno != EINPROGRESS) {
        Complete(Status::failed);
        return;
    }
    event_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
    if (!event_.Schedule(socket_, POLLOUT)) {
        Complete(Status::failed);
        return;
    }
    timer_.set(timeout_ms, &Connect::OnTimeOut, this);
}

void Connect::Stop() {
    Complete(Status::stopped);
}

void Connect::OnSocketEvent(int fd, short revents) {
    if (revents & kErrorEvents) {
        Complete(Status::failed);
    } else if (revents & POLLOUT) {
        int error = 0;
        socklen_t length = sizeof error;
        bool ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        Complete(ok ? Status::connected : Status::failed);
    }
}

void Connect::OnTimeOut(Timer*) {
    Complete(Status::failed);
}

// The owner gets the only descriptor of the connected socket.
void Connect::Complete(Status::Type status) {
    if (state_ != Status::connecting) return;
    state_ = status;
    Fd connectedSocket;
    if (status == Status::connected) connectedSocket = std::move(socket_);
    socket_.close();
    event_.Release();
    event_.UnBind();
    timer_.reset();
    if (handler_) handler_->Invoke(status, std::move(connectedSocket));
}

}  // namespace ASync
