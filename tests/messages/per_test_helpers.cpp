#include "tests/messages/per_test_helpers.h"

#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

namespace messages_test {

bool encode(const ASN1::AbstractData& value, std::vector<char>& octets) {
    octets.clear();
    ASN1::PEREncoder encoder(octets);
    return value.accept(encoder);
}

bool decode(const std::vector<char>& octets, ASN1::AbstractData& value) {
    ASN1::PERDecoder decoder(octets.data(), octets.data() + octets.size());
    return value.accept(decoder);
}

std::string to_hex(const std::vector<char>& octets) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (char c : octets) {
        hex += digits[static_cast<unsigned char>(c) >> 4];
        hex += digits[static_cast<unsigned char>(c) & 15];
    }
    return hex;
}

std::vector<char> from_hex(const std::string& hex) {
    std::vector<char> octets;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        octets.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return octets;
}

std::unique_ptr<ASN1::AbstractData> create(const ASN1::TypeInfo* info) {
    return std::unique_ptr<ASN1::AbstractData>(info->create(info));
}

}  // namespace messages_test
