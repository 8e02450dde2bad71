// The BER decoder on arbitrary octets, as a type with every construct, the
// message envelope, open types, a recursive type and the controller's
// message: decoding never misbehaves, and whatever decodes re-encodes stably.
#include <cstddef>
#include <cstdint>

#include "fuzz/round_trip.h"
#include "messages/lgcp.h"
#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

namespace {

using Test::berDecode;
using Test::berEncode;

template <class T>
void decodeAs(const std::vector<char>& octets) {
    T value;
    if (berDecode(octets, value)) Fuzz::checkRoundTrip(value, berEncode, berDecode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> octets(data, data + size);
    Test::Everything everything;
    if (berDecode(octets, everything) &&
        Fuzz::timeReadsBack(everything.field<ASN1::GeneralizedTime>(Test::Everything::time))) {
        Fuzz::checkRoundTrip(everything, berEncode, berDecode);
    }
    decodeAs<Test::Envelope>(octets);
    decodeAs<Test::Carrier>(octets);
    decodeAs<Test::Tree>(octets);
    decodeAs<LGCP::Message>(octets);
    return 0;
}
