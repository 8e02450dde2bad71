#pragma once
// Aligned-PER encoding and decoding of whole values, and hex text, for the
// message tests.

#include "asn1/asn1.h"

#include <memory>
#include <string>
#include <vector>

namespace messages_test {

// The octets of value, or nothing when it does not encode.
bool encode(const ASN1::AbstractData& value, std::vector<char>& octets);
bool decode(const std::vector<char>& octets, ASN1::AbstractData& value);

std::string to_hex(const std::vector<char>& octets);
std::vector<char> from_hex(const std::string& hex);

// A default value of the type a record describes.
std::unique_ptr<ASN1::AbstractData> create(const ASN1::TypeInfo* info);

}  // namespace messages_test
