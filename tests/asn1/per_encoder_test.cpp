// Aligned PER encoding of the building blocks and of what the vectors do not
// cover: this system's own forms and the failures.

#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

#include <gtest/gtest.h>

#include <functional>

namespace Test {
namespace {

using namespace ASN1;

// Runs one writer on a fresh encoder: the hex, or "failed".
std::string written(const std::function<bool(PEREncoder&)>& write) {
    std::vector<char> out;
    PEREncoder encoder(out);
    return write(encoder) ? toHex(out) : "failed";
}

struct Case {
    const char* what;
    std::function<bool(PEREncoder&)> write;
    const char* hex;
};

TEST(PerEncoder, BuildingBlocks) {
    const Case cases[] = {
        {"length 127", [](PEREncoder& e) { return e.encodeLength(127, 0, 0x7FFFFFFF); }, "7F"},
        {"length 128", [](PEREncoder& e) { return e.encodeLength(128, 0, 0x7FFFFFFF); }, "8080"},
        {"length 8192", [](PEREncoder& e) { return e.encodeLength(8192, 0, 0x7FFFFFFF); }, "A000"},
        {"length 16383", [](PEREncoder& e) { return e.encodeLength(16383, 0, 0x7FFFFFFF); }, "BFFF"},
        {"length 16384", [](PEREncoder& e) { return e.encodeLength(16384, 0, 0x7FFFFFFF); }, "failed"},
        {"length below its bound", [](PEREncoder& e) { return e.encodeLength(0, 1, 3); }, "failed"},
        {"constrained length", [](PEREncoder& e) { return e.encodeLength(3, 1, 4); }, "80"},
        {"fixed length", [](PEREncoder& e) { return e.encodeLength(4, 4, 4); }, ""},
        {"small 63", [](PEREncoder& e) { e.encodeSmallUnsigned(63); return true; }, "7E"},
        {"small 64", [](PEREncoder& e) { e.encodeSmallUnsigned(64); return true; }, "800140"},
        {"bit then aligned octet", [](PEREncoder& e) { e.encodeSingleBit(true); e.encodeByte(0x55); return true; }, "8055"},
        {"bits across octets", [](PEREncoder& e) { e.encodeMultiBit(0x5, 3); e.encodeMultiBit(0x3FF, 10); return true; }, "BFF8"},
        {"empty block does not align", [](PEREncoder& e) { e.encodeSingleBit(true); e.encodeBlock("", 0); e.encodeSingleBit(true); return true; }, "C0"},
        {"range 3", [](PEREncoder& e) { return e.encodeUnsigned(2, 0, 2); }, "80"},
        {"range 256", [](PEREncoder& e) { e.encodeSingleBit(true); return e.encodeUnsigned(255, 0, 255); }, "80FF"},
        {"range 65536", [](PEREncoder& e) { return e.encodeUnsigned(258, 0, 65535); }, "0102"},
        {"full range, 0", [](PEREncoder& e) { return e.encodeUnsigned(0, 0, 0xFFFFFFFF); }, "0000"},
        {"full range, 70000", [](PEREncoder& e) { return e.encodeUnsigned(70000, 0, 0xFFFFFFFF); }, "80011170"},
        {"signed range", [](PEREncoder& e) { return e.encodeUnsigned(unsigned(-5), unsigned(-128), 127); }, "7B"},
        {"outside the range", [](PEREncoder& e) { return e.encodeUnsigned(1024, 0, 1023); }, "failed"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.hex, written(c.write)) << c.what;
}

TEST(PerEncoder, EnumerationOutsideItsRootTravelsAsValuePlusOneThenTheValue) {
    ErrorCause cause;
    cause.setValue(13);
    // Extension bit 1, normally small 14, then 13 in 0..13 (4 bits).
    EXPECT_EQ("8ED0", perHex(cause));
    Colour colour;
    colour.setValue(3);  // not extendable: no room for it
    EXPECT_EQ("encode failed", perHex(colour));
}

TEST(PerEncoder, SparseEnumerationSendsTheValueInZeroToMaximum) {
    Dscp dscp;
    dscp.setValue(Dscp::ef);
    EXPECT_EQ("B8", perHex(dscp));  // 46 in 6 bits
}

TEST(PerEncoder, ValuesOutsideTheirConstraintsFailTheWholeEncoding) {
    Envelope message;
    message.includeOptionalField(Envelope::slot_id, Envelope::slot);
    message.field<SlotNumber>(Envelope::slot) = 1024u;
    message.field<PDU>(Envelope::pdu).select<Command>(PDU::command).select<Null>(Command::ping);
    EXPECT_EQ("encode failed", perHex(message));

    Envelope unselected;
    EXPECT_EQ("encode failed", perHex(unselected));

    NumericString digits("12a", &DigitsInfo);
    EXPECT_EQ("encode failed", perHex(digits));
    NumericString tooLong("123456789", &DigitsInfo);
    EXPECT_EQ("encode failed", perHex(tooLong));
}

TEST(PerEncoder, RemovedAdditionLeavesNoExtensionPart) {
    Item item;
    item.field<INTEGER>(Item::id).setValue(1);
    item.includeOptionalField(Item::weight_id, Item::weight);
    item.removeOptionalField(Item::weight_id);
    EXPECT_EQ("000001", perHex(item));
}

TEST(PerEncoder, OpenTypes) {
    Carrier carrier;
    auto& open = carrier.field<OpenData>(Carrier::open);
    // Nothing held: the open type of an empty encoding.
    EXPECT_EQ("0100" "03000000", perHex(carrier));
    Item* item = new Item;
    item->field<INTEGER>(Item::id).setValue(3);
    open.grab(item);
    EXPECT_EQ("03000003" "03000000", perHex(carrier));
    open.grab(nullptr);
    open.buf() = {'\x12', '\x34'};
    EXPECT_EQ("021234" "03000000", perHex(carrier));
    open.buf().clear();  // octets held, none of them: as they came
    EXPECT_EQ("00" "03000000", perHex(carrier));
    open.grab(new Null);  // a value that encodes to nothing
    EXPECT_EQ("0100" "03000000", perHex(carrier));
}

TEST(PerEncoder, EmptyStringsAreALengthOctetOnly) {
    EXPECT_EQ("00", perHex(OCTET_STRING()));
    EXPECT_EQ("00", perHex(IA5String()));
    EXPECT_EQ("00", perHex(BIT_STRING()));
}

TEST(PerEncoder, CharacterStringsOfSixteenBitsOrLessAreNotAligned) {
    static const StringInfo twoVisible = {
        {{&createValue<VisibleString>, tags::VisibleString}, FixedConstraint, 1, 2},
        VisibleStringSet, 95, 7, 7, 8};
    // A leading bit from a one-bit length, then the characters right after it.
    EXPECT_EQ("A0B100", perHex(VisibleString("Ab", &twoVisible)));
    // The permitted characters' own codes fit eight bits, with the alignment
    // of an unconstrained size.
    static const BMPStringInfo lowerCase = {
        {{&createValue<BMPString>, tags::BMPString}, Unconstrained, 0, 0xFFFFFFFFu},
        L'a', L'z', 5, 8};
    EXPECT_EQ("026162", perHex(BMPString(L"ab", &lowerCase)));
    EXPECT_EQ("encode failed", perHex(BMPString(L"aB", &lowerCase)));
}

TEST(PerEncoder, ExtendableSizeOutsideItsRootTakesTheGeneralLength) {
    static const ConstrainedInfo oneToThree = {
        {&createValue<OCTET_STRING>, tags::OCTET_STRING}, ExtendableConstraint, 1, 3};
    EXPECT_EQ("200102", perHex(OCTET_STRING(std::vector<char>{1, 2}, &oneToThree)));
    EXPECT_EQ("800401020304", perHex(OCTET_STRING(std::vector<char>{1, 2, 3, 4}, &oneToThree)));
}

}  // namespace
}  // namespace Test
