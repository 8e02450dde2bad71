#pragma once
// A small TCP server for tracing: every frame given to Send goes to every
// connected client in TPKT framing, and TPKT frames that clients send are cut
// out of their streams and handed to an optional receiver. It reads and
// writes its sockets itself, with a 512-byte frame buffer per client.

#include <cstdint>
#include <list>

#include "runtime/multiplexer.h"

class TPKTTracer {
public:
    class Notify {
    public:
        virtual ~Notify() = default;
        virtual void OnFrame(const void* data, unsigned length) = 0;
    };

    static constexpr unsigned buffer_size = 512;
    static constexpr unsigned max_length = 0xFFFF - 4;

    TPKTTracer() = default;
    ~TPKTTracer();
    TPKTTracer(const TPKTTracer&) = delete;
    TPKTTracer& operator=(const TPKTTracer&) = delete;

    // Listens on `port` of every address; false (and nothing attached) when
    // any step fails.
    bool Listen(unsigned short port);
    // One frame to every client, or, from inside OnFrame, to the client whose
    // frame is being delivered. A frame longer than max_length is refused.
    void Send(const void* data, unsigned length);

    void set_notify(Notify* notify) { notify_ = notify; }
    size_t clients() const { return connections_.size(); }

private:
    struct Connection {
        int state = 1;  // 1 reading a header, 0 reading a body
        uint32_t expected = 4;
        uint32_t received = 0;
        Event event;
        unsigned char buffer[buffer_size];
    };
    using iterator = std::list<Connection*>::iterator;

    void OnEvent(int fd, short revents);
    void OnDataEvent(int fd, short revents);
    // False when the client was closed.
    bool Received(Connection& c);
    void CloseConnection(iterator it);
    iterator FindConnection(int fd);
    bool SendTo(Connection& c, const void* data, unsigned length);

    Notify* notify_ = nullptr;
    Event listenEvent_;
    std::list<Connection*> connections_;
    iterator current_ = connections_.end();
};
