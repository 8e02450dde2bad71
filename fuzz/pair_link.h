#pragma once
// A controller link over one end of a socket pair, for fuzz targets that
// talk to the controller server without a TCP connection.

#include "link/control_links.h"
#include "runtime/fd.h"

class PairLink : public Control::ServiceUnix {
public:
    // Serves the controller at the other end of `fd`'s pair.
    void take(const Fd& fd) { Connected(fd, "fuzz"); }

protected:
    bool ImplActivate() override { return true; }
    void ImplDeactivate() override {}
    void ImplOnDisconnect() override {}
};
