// Arbitrary bytes decoded as the messages of the two links, LGCP::Message from
// the controller and MON::Message from an SNMP agent: decoding never
// misbehaves, and whatever decodes re-encodes stably.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "messages/lgcp.h"
#include "messages/mon.h"
#include "tests/asn1/per_test_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> octets(data, data + size);
    if (!Test::decodesSoundly<LGCP::Message>(octets)) __builtin_trap();
    if (!Test::decodesSoundly<MON::Message>(octets)) __builtin_trap();
    return 0;
}
