#pragma once
// For the fuzz targets of the signalling links: the check that stops the run
// with its reason, packets cut from the input, and the log streams sent
// nowhere (the links log freely, and a run must not fill the memory).

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "link/packet.h"

namespace Fuzz {

inline void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// Up to `most` octets of the input in a packet with some head room.
inline Packet take_packet(FuzzedDataProvider& in, size_t most) {
    const std::string octets = in.ConsumeRandomLengthString(most);
    Packet p;
    p.reserve_head(8);
    p.put(octets.data(), static_cast<unsigned>(octets.size()));
    return p;
}

// Called at the start of every run: the first call redirects the standard
// streams, each call forgets what the previous run wrote.
inline void quiet_streams() {
    static std::ostringstream quiet;
    static bool redirected = [] {
        for (std::ostream* stream : {&std::cout, &std::clog, &std::cerr})
            stream->rdbuf(quiet.rdbuf());
        return true;
    }();
    (void)redirected;
    quiet.str(std::string());
}

inline void check_pool() {
    check(Packet_pool::free_count() == Packet_pool::capacity(),
          "every packet block back in the pool");
}

// One input of a link fuzz target: `run` takes its operations from the
// provider, with the streams quiet; then every packet block must be back.
template <class Run>
int run_link_input(const uint8_t* data, size_t size, Run run) {
    quiet_streams();
    FuzzedDataProvider in(data, size);
    run(in);
    check_pool();
    return 0;
}

}  // namespace Fuzz
