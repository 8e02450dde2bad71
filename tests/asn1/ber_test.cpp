// BER: the encodings of single values and of the message envelope, and a
// decoder that refuses what it cannot read soundly.

#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

#include <gtest/gtest.h>

namespace Test {
namespace {

using namespace ASN1;

TEST(BerEncoder, WritesScalarsWithTheirUniversalTags) {
    EXPECT_EQ("0202012C", berHex(INTEGER(300, &INTEGER::theInfo)));
    EXPECT_EQ("02020080", berHex(INTEGER(128, &INTEGER::theInfo)));
    EXPECT_EQ("0202FF7F", berHex(INTEGER(-129, &INTEGER::theInfo)));
    EXPECT_EQ("0101FF", berHex(BOOLEAN(true, &BOOLEAN::theInfo)));
    EXPECT_EQ("0400", berHex(OCTET_STRING()));
    EXPECT_EQ("0500", berHex(Null()));
    EXPECT_EQ("0603813403", berHex(OBJECT_IDENTIFIER({2, 100, 3})));
    // An unsigned type's top value is the number 4294967295, not -1.
    Constrained_INTEGER<FixedConstraint, 0, 4294967295u> word;
    word = 4294967295u;
    EXPECT_EQ("020500FFFFFFFF", berHex(word));
}

TEST(BerEncoder, TagsFieldsAndAlternativesByTheirIndex) {
    // [0] seq 5, then pdu [2] wrapping PDU's command [0] wrapping ping [12].
    EXPECT_EQ("3009800105A204A0028C00", berHex(pingEnvelope(5)));
}

TEST(BerEncoder, CountsLongLengthsInTheEnclosingValue) {
    Envelope message;
    message.field<PDU>(Envelope::pdu)
        .select<Command>(PDU::command)
        .select<OCTET_STRING>(Command::userData)
        .assign(256, 'u');
    const std::string hex = berHex(message);
    EXPECT_EQ("3082010CA2820108A0820104" "88820100", hex.substr(0, 32));
    EXPECT_EQ(2u * (4 + 268), hex.size());
}

TEST(BerEncoder, WritesTagNumbersFrom31InBase128) {
    static const ConstrainedInfo taggedInfo = {
        {&createValue<INTEGER>, (0x80u << 16) | 200}, Unconstrained, 0, 0xFFFFFFFFu};
    INTEGER tagged(5, &taggedInfo);
    EXPECT_EQ("9F81480105", berHex(tagged));
    INTEGER decoded(&taggedInfo);
    ASSERT_TRUE(berDecodeHex("9F81480105", decoded));
    EXPECT_EQ(5, decoded.getValue());
}

TEST(BerRoundTrip, BitStringsKeepTheirBitCount) {
    BIT_STRING bits;
    bits.resize(16);
    bits.set(0);
    bits.set(15);
    EXPECT_EQ("0303008001", berHex(bits));
    BIT_STRING decoded;
    ASSERT_TRUE(berDecodeHex("0303008001", decoded));
    EXPECT_EQ(16u, decoded.size());
    EXPECT_EQ(bits, decoded);
}

TEST(BerRoundTrip, EveryConstructDecodesToAnEqualValue) {
    Everything value;
    fillEverything(value);
    Everything decoded;
    ASSERT_TRUE(berDecodeHex(berHex(value), decoded));
    EXPECT_EQ(value, decoded);
    EXPECT_EQ(berHex(value), berHex(decoded));

    Envelope message;
    ASSERT_TRUE(berDecodeHex("3009800105A204A0028C00", message));
    EXPECT_EQ(pingEnvelope(5), message);
}

TEST(BerRoundTrip, NegativeEnumeratorsAndLargeWordsComeBack) {
    static const NameEntry names[] = {{-1, "not-use"}, {0, "off"}};
    static const EnumeratedInfo modeInfo = {
        {&createValue<ENUMERATED>, tags::ENUMERATED}, false, 0, names, 2};
    ENUMERATED mode(&modeInfo, -1), decodedMode(&modeInfo);
    EXPECT_EQ("0A01FF", berHex(mode));
    ASSERT_TRUE(berDecodeHex("0A01FF", decodedMode));
    EXPECT_EQ(-1, decodedMode.getValue());

    Constrained_INTEGER<FixedConstraint, 0, 4294967295u> word;
    ASSERT_TRUE(berDecodeHex("020500FFFFFFFF", word));
    EXPECT_EQ(4294967295u, word.getValue());
}

TEST(BerDecoder, SkipsElementsTheTypeDoesNotKnow) {
    Envelope message;
    // A [5] element after pdu, as a newer peer might send.
    ASSERT_TRUE(berDecodeHex("300C800105A204A0028C00850100", message));
    EXPECT_EQ(pingEnvelope(5), message);
}

TEST(BerDecoder, RefusesWhatItCannotReadSoundly) {
    for (const char* hex : {
             "3003800105",                  // mandatory pdu missing
             "3080800105A204A0028C000000",  // indefinite length
             "3009800105A204A0028C",        // cut
             "3009800105A204A0038C00",      // inner length past its wrapper
             "3085000000000B800105A204A0028C00",  // five length octets
             "3009800105A204A0020500",      // alternative with a universal tag
             "3009800105A204A0028F00",      // alternative 15 of 15
             "2009800105A204A0028C00",      // not the SEQUENCE tag
             "1009800105A204A0028C00",      // the SEQUENCE tag, primitive
         }) {
        Envelope message;
        EXPECT_FALSE(berDecodeHex(hex, message)) << hex;
    }
    BIT_STRING bits;
    EXPECT_FALSE(berDecodeHex("030108", bits));  // more unused bits than there are
    EXPECT_FALSE(berDecodeHex("030107", bits));  // unused bits without any bits
    BOOLEAN flag;
    EXPECT_FALSE(berDecodeHex("0100", flag));
    INTEGER integer;
    EXPECT_FALSE(berDecodeHex("0200", integer));
    EXPECT_FALSE(berDecodeHex("0206010000000000", integer));  // more than 32 bits
    EXPECT_FALSE(berDecodeHex("2203020105", integer));        // constructed
}

TEST(BerDecoder, EveryCutOfAValidEncodingFails) {
    Everything value;
    fillEverything(value);
    const std::vector<char> octets = fromHex(berHex(value));
    for (size_t length = 0; length < octets.size(); ++length) {
        Everything decoded;
        const std::vector<char> cut(octets.begin(), octets.begin() + length);
        EXPECT_FALSE(berDecode(cut, decoded)) << length;
    }
}

TEST(BerDecoder, FlippedBitsNeverMisbehaveAndWhatDecodesIsStable) {
    Everything value;
    fillEverything(value);
    const std::vector<char> octets = fromHex(berHex(value));
    for (size_t bit = 0; bit < octets.size() * 8; ++bit) {
        std::vector<char> flipped = octets;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (0x80 >> (bit % 8)));
        Everything decoded;
        if (!berDecode(flipped, decoded)) continue;
        Everything again;
        ASSERT_TRUE(berDecodeHex(berHex(decoded), again)) << bit;
        EXPECT_EQ(decoded, again) << bit;
    }
}

void appendLength(std::vector<char>& octets, unsigned length) {
    octets.push_back('\x84');
    for (int shift = 24; shift >= 0; shift -= 8) octets.push_back(static_cast<char>(length >> shift));
}

// node [1] { node [1] { ... leaf [0] 1 } }: the list of trees takes the
// alternative's tag, its elements are trees without a header of their own.
std::vector<char> nestedTree(unsigned depth) {
    std::vector<char> octets = {'\x80', 1, 1};
    for (unsigned i = 0; i < depth; ++i) {
        std::vector<char> outer = {'\xA1'};
        appendLength(outer, static_cast<unsigned>(octets.size()));
        outer.insert(outer.end(), octets.begin(), octets.end());
        octets.swap(outer);
    }
    return octets;
}

TEST(BerDecoder, FollowsNestingOnlyToTheRuntimeLimit) {
    Tree tree;
    ASSERT_TRUE(berDecode(nestedTree(20), tree));
    EXPECT_EQ(Tree::node, tree.currentSelection());
    Tree again;
    ASSERT_TRUE(berDecodeHex(berHex(tree), again));
    EXPECT_EQ(tree, again);
    EXPECT_FALSE(berDecode(nestedTree(MaximumNestingDepth), tree));
}

}  // namespace
}  // namespace Test
