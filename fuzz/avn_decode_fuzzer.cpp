// The value-notation parser on arbitrary text, as a type with every
// construct, the message envelope, a recursive type and the controller's
// message: parsing never misbehaves, and whatever parses prints to a text
// that parses back equal.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz/round_trip.h"
#include "messages/lgcp.h"
#include "tests/asn1/test_module.h"

namespace {

bool print(const ASN1::AbstractData& value, std::vector<char>& text) {
    std::ostringstream out;
    if (value.print_on(out) != std::ios_base::goodbit) return false;
    const std::string written = out.str();
    text.assign(written.begin(), written.end());
    return true;
}

bool parse(const std::vector<char>& text, ASN1::AbstractData& value) {
    return value.setFromValueNotation(std::string(text.begin(), text.end()));
}

template <class T>
void parseAs(const std::string& text) {
    T value;
    if (value.setFromValueNotation(text)) Fuzz::checkRoundTrip(value, print, parse);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Test::Everything everything;
    if (everything.setFromValueNotation(text) &&
        Fuzz::timeReadsBack(everything.field<ASN1::GeneralizedTime>(Test::Everything::time))) {
        Fuzz::checkRoundTrip(everything, print, parse);
    }
    parseAs<Test::Envelope>(text);
    parseAs<Test::Tree>(text);
    parseAs<LGCP::Message>(text);
    return 0;
}
