#pragma once
// Sends call detail records, already formatted as text, as UDP datagrams.

#include <string>

#include "runtime/fd.h"

namespace CDR_Sender {

class Sender {
public:
    Sender();
    virtual ~Sender() = default;
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // One datagram holding `record` to each "a.b.c.d:port" of `destinations`
    // (separated by white space), in list order. A word that is not an
    // address with a port is skipped with a log line. True when every
    // destination got its datagram.
    bool SendTo(const std::string& record, const std::string& destinations);

private:
    Fd socket_;
};

}  // namespace CDR_Sender
