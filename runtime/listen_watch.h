#pragma once
// The loop's watch of a listening socket. After an accept() that failed for
// a reason that lasts (AcceptFailureLasts: out of descriptors, say) the
// listener would be ready on every pass, so it rests (kListenRestMs), its
// connections waiting in the backlog. The watch holds a duplicate of the
// socket, which may find no descriptor free: it then rests again, and so
// on, until it watches once more.
//
//   listen_.Bind("Owner::OnSocketEvent", &Owner::OnSocketEvent, this);
//   listen_.Watch(std::move(socket));
//   ... in OnSocketEvent, accept() failed for good:  listen_.Rest();

#include <string>

#include "runtime/descriptor_end.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"

class ListenWatch {
public:
    template <class T>
    void Bind(const std::string& name, void (T::*member)(int, short), T* object) {
        event_.Bind(name, member, object);
    }
    // Takes a listening, non-blocking socket and watches it for connections.
    void Watch(Fd listener);
    // Stops watching for a while.
    void Rest();
    // Stops watching and closes the socket.
    void Close();

    bool open() const { return bool(listener_); }

private:
    void Resume();

    Fd listener_;
    Event event_;
    Timer rest_;
};
