// The aligned-PER decoder on arbitrary bytes, as a type with every construct
// the coder knows and as one with open types: decoding never misbehaves, and
// whatever decodes re-encodes stably.
#include <cstddef>
#include <cstdint>

#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

namespace {

template <class T>
void decodeAs(const std::vector<char>& octets) {
    T value;
    if (Test::perDecode(octets, value) && !Test::reencodesStably(value)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> octets(data, data + size);
    decodeAs<Test::Everything>(octets);
    decodeAs<Test::Carrier>(octets);
    decodeAs<Test::Envelope>(octets);
    return 0;
}
