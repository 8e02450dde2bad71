#include "link/tpkt_tracer.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <iostream>

#include "link/tcp.h"

TPKTTracer::~TPKTTracer() {
    for (Connection* c : connections_) delete c;
    connections_.clear();
}

bool TPKTTracer::Listen(unsigned short port) {
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) return false;
    if (!tcp::bind_any(socket, port)) return false;
    if (::listen(socket.get(), 1) != 0) return false;
    if (!socket.NonBlock()) return false;
    listenEvent_.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
    return listenEvent_.Schedule(socket, POLLIN);
}

void TPKTTracer::OnEvent(int fd, short revents) {
    if (!(revents & POLLIN)) return;
    for (;;) {
        INet4::Addr peer;
        Fd socket = tcp::accept(fd, peer);
        if (!socket) return;
        std::clog << "ACP connection open from " << peer << std::endl;
        if (!socket.NonBlock()) continue;
        Connection* c = new Connection;
        c->event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
        if (!c->event.Schedule(socket, POLLIN)) {
            std::clog << "ACP connection from " << peer << " closed: cannot watch it" << std::endl;
            delete c;
            continue;
        }
        connections_.push_back(c);
    }
}

void TPKTTracer::OnDataEvent(int fd, short revents) {
    current_ = FindConnection(fd);
    if (current_ == connections_.end()) return;
    if (revents & (POLLERR | POLLHUP)) {
        CloseConnection(current_);
        return;
    }
    for (;;) {
        Connection& c = **current_;
        ssize_t n = ::recv(fd, c.buffer + c.received, c.expected - c.received, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n <= 0) {
            CloseConnection(current_);
            break;
        }
        c.received += static_cast<uint32_t>(n);
        if (c.received < c.expected) break;
        if (!Received(c)) break;
    }
    current_ = connections_.end();
}

// A complete header or body is in the buffer.
bool TPKTTracer::Received(Connection& c) {
    if (c.state == 0) {
        if (notify_) notify_->OnFrame(c.buffer, c.expected);
        if (current_ == connections_.end()) return false;  // closed meanwhile
        c.state = 1;
        c.received = 0;
        c.expected = 4;
        return true;
    }
    const unsigned length = (c.buffer[2] << 8) | c.buffer[3];
    if (c.buffer[0] != 0x03 || c.buffer[1] != 0x00 || length < 4 || length - 4 > buffer_size) {
        CloseConnection(current_);
        return false;
    }
    c.received = 0;
    if (length == 4) return true;  // an empty frame: nothing to deliver
    c.state = 0;
    c.expected = length - 4;
    return true;
}

void TPKTTracer::Send(const void* data, unsigned length) {
    if (length > max_length) {
        std::cerr << "TPKTTracer: frame of " << length << " bytes does not fit, not sent" << std::endl;
        return;
    }
    if (current_ != connections_.end()) {
        if (!SendTo(**current_, data, length)) CloseConnection(current_);
        return;
    }
    for (iterator it = connections_.begin(); it != connections_.end();) {
        iterator next = std::next(it);
        if (!SendTo(**it, data, length)) CloseConnection(it);
        it = next;
    }
}

// False when the client must go: any failure but EINTR, or a short write.
bool TPKTTracer::SendTo(Connection& c, const void* data, unsigned length) {
    const unsigned total = length + 4;
    unsigned char header[4] = {0x03, 0x00, static_cast<unsigned char>(total >> 8),
                               static_cast<unsigned char>(total & 0xFF)};
    iovec pieces[2] = {{header, sizeof header}, {const_cast<void*>(data), length}};
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = 2;
    ssize_t n = ::sendmsg(c.event.fd(), &message, MSG_NOSIGNAL);
    if (n < 0) return errno == EINTR;
    return static_cast<unsigned>(n) == total;
}

void TPKTTracer::CloseConnection(iterator it) {
    if (it == current_) current_ = connections_.end();
    delete *it;
    connections_.erase(it);
}

TPKTTracer::iterator TPKTTracer::FindConnection(int fd) {
    for (iterator it = connections_.begin(); it != connections_.end(); ++it)
        if ((*it)->event.fd() == fd) return it;
    return connections_.end();
}
