// The BER decoder on arbitrary octets, as a type with every construct, the
// message envelope, open types, a recursive type and the controller's
// message: decoding never misbehaves, and whatever decodes re-encodes stably.
#include <cstddef>
#include <cstdint>

#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "fuzz/round_trip.h"
#include "messages/lgcp.h"
#include "tests/asn1/test_module.h"

namespace {

bool encode(const ASN1::AbstractData& value, std::vector<char>& octets) {
    ASN1::BEREncoder encoder(octets);
    return value.accept(encoder);
}

bool decode(const std::vector<char>& octets, ASN1::AbstractData& value) {
    ASN1::BERDecoder decoder(octets.data(), octets.data() + octets.size());
    return value.accept(decoder);
}

template <class T>
void decodeAs(const std::vector<char>& octets) {
    T value;
    if (decode(octets, value)) Fuzz::checkRoundTrip(value, encode, decode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> octets(data, data + size);
    Test::Everything everything;
    if (decode(octets, everything) &&
        Fuzz::timeReadsBack(everything.field<ASN1::GeneralizedTime>(Test::Everything::time))) {
        Fuzz::checkRoundTrip(everything, encode, decode);
    }
    decodeAs<Test::Envelope>(octets);
    decodeAs<Test::Carrier>(octets);
    decodeAs<Test::Tree>(octets);
    decodeAs<LGCP::Message>(octets);
    return 0;
}
