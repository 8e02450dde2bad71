// The aligned-PER decoder on arbitrary bytes, as a type with every construct
// the coder knows and as one with open types: decoding never misbehaves, and
// whatever decodes re-encodes stably.
#include <cstddef>
#include <cstdint>

#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> octets(data, data + size);
    if (!Test::decodesSoundly<Test::Everything>(octets)) __builtin_trap();
    if (!Test::decodesSoundly<Test::Carrier>(octets)) __builtin_trap();
    if (!Test::decodesSoundly<Test::Envelope>(octets)) __builtin_trap();
    return 0;
}
