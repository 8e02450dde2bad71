// The aligned-PER decoder on arbitrary bytes, as a type with every construct
// the coder knows and as one with open types: decoding never misbehaves, and
// whatever decodes re-encodes stably.
#include <cstddef>
#include <cstdint>

#include "fuzz/round_trip.h"
#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> octets(data, data + size);
    // A time text may decode to fields that no text carries (a five-digit
    // year); such a value cannot come back the same.
    Test::Everything everything;
    if (Test::perDecode(octets, everything) &&
        Fuzz::timeReadsBack(everything.field<ASN1::GeneralizedTime>(Test::Everything::time)) &&
        !Test::reencodesStably(everything)) {
        __builtin_trap();
    }
    if (!Test::decodesSoundly<Test::Carrier>(octets)) __builtin_trap();
    if (!Test::decodesSoundly<Test::Envelope>(octets)) __builtin_trap();
    return 0;
}
