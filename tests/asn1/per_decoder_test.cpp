// Aligned PER decoding: the worked examples, the limits, and malformed input,
// which must fail cleanly without reading outside the data.

#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

#include <gtest/gtest.h>

namespace Test {
namespace {

using namespace ASN1;

TEST(PerDecoder, EnvelopeExamples) {
    Envelope message;
    ASSERT_TRUE(perDecodeHex("80010518", message));
    EXPECT_TRUE(message.hasOptionalField(Envelope::seq_id));
    EXPECT_EQ(5, message.field<INTEGER>(Envelope::seq).getValue());
    EXPECT_FALSE(message.hasOptionalField(Envelope::slot_id));
    const PDU& pdu = message.field<PDU>(Envelope::pdu);
    EXPECT_EQ(PDU::command, pdu.currentSelection());
    EXPECT_EQ(Command::ping, pdu.alternative<Command>().currentSelection());

    Envelope bare;
    ASSERT_TRUE(perDecodeHex("0600", bare));
    EXPECT_FALSE(bare.hasOptionalField(Envelope::seq_id));
    EXPECT_EQ(Command::ping, bare.field<PDU>(Envelope::pdu).alternative<Command>().currentSelection());
}

TEST(PerDecoder, SlotAboveItsRangeDecodesForTheReceiverToRefuse) {
    Envelope message;
    ASSERT_TRUE(perDecodeHex("4004001800", message));  // slot 1024, command ping
    EXPECT_EQ(1024u, message.field<SlotNumber>(Envelope::slot).getValue());
    Constrained_INTEGER<FixedConstraint, 1, 3> small;
    ASSERT_TRUE(perDecodeHex("C0", small));  // the bits 11: one past the top
    EXPECT_EQ(4u, small.getValue());
}

TEST(PerDecoder, LengthDeterminants) {
    OCTET_STRING octets;
    ASSERT_TRUE(perDecodeHex("80050102030405", octets));  // two-octet form of 5
    EXPECT_EQ(5u, octets.size());
    EXPECT_FALSE(perDecodeHex("C001", octets));  // fragmented
    EXPECT_FALSE(perDecodeHex("80", octets));    // second octet missing
    EXPECT_FALSE(perDecodeHex("0301", octets));  // contents cut short
    NumericString digits(&DigitsInfo);
    EXPECT_FALSE(perDecodeHex("E0", digits));  // length 8 of 1..8 would be 9: past the bound
}

TEST(PerDecoder, UnconstrainedIntegers) {
    const struct {
        const char* hex;
        int value;
    } cases[] = {{"01FF", -1}, {"0200FF", 255}, {"00", 0}, {"0480000000", -2147483647 - 1}};
    for (const auto& c : cases) {
        INTEGER value;
        ASSERT_TRUE(perDecodeHex(c.hex, value)) << c.hex;
        EXPECT_EQ(c.value, value.getValue()) << c.hex;
    }
    INTEGER value;
    EXPECT_FALSE(perDecodeHex("050000000001", value));  // five octets
}

TEST(PerDecoder, TruncatedInsideAFixedRangeIntegerFails) {
    Envelope message;
    EXPECT_FALSE(perDecodeHex("C0010500", message));
}

TEST(PerDecoder, StringSizesUpToTheLimitDecode) {
    static const ConstrainedInfo upTo20000 = {
        {&createValue<OCTET_STRING>, tags::OCTET_STRING}, FixedConstraint, 0, 20000};
    OCTET_STRING big(&upTo20000);
    std::vector<char> data{0x40, 0x00};  // 16384 in 15 bits, then the octets
    data.resize(2 + 16384, 'x');
    ASSERT_TRUE(perDecode(data, big));
    EXPECT_EQ(16384u, big.size());
    data[1] = 0x02;  // 16385
    data.push_back('x');
    EXPECT_FALSE(perDecode(data, big));
}

TEST(PerDecoder, ListsUpToTheLimitDecode) {
    SEQUENCE_OF<BOOLEAN> flags;
    std::vector<char> data{'\x80', '\x80'};
    data.resize(2 + 16, '\xFF');
    ASSERT_TRUE(perDecode(data, flags));
    EXPECT_EQ(128u, flags.size());
    data[1] = '\x81';
    data.push_back('\xFF');
    EXPECT_FALSE(perDecode(data, flags));
}

TEST(PerDecoder, HugeCountsFailBeforeAnythingIsAllocated) {
    OCTET_STRING octets;
    EXPECT_FALSE(perDecodeHex("BFFF", octets));
    EXPECT_TRUE(octets.empty());
    BIT_STRING bits;
    EXPECT_FALSE(perDecodeHex("BFFF", bits));
    EXPECT_EQ(0u, bits.size());
    ItemList list;
    EXPECT_FALSE(perDecodeHex("BFFF", list));
    EXPECT_EQ(0u, list.size());
    IA5String text;
    EXPECT_FALSE(perDecodeHex("3F41", text));  // 63 characters announced, one there
}

TEST(PerDecoder, UnknownAdditionIsSkippedAndForgotten) {
    // Item {id 1} from a newer peer: two presence bits, the second unknown
    // here, its open type one octet long.
    Item item;
    ASSERT_TRUE(perDecodeHex("80000102800100", item));
    EXPECT_EQ(1, item.field<INTEGER>(Item::id).getValue());
    EXPECT_FALSE(item.hasOptionalField(Item::weight_id));
    EXPECT_LE(item.extensionMap().size(), 1u);
    EXPECT_EQ("000001", perHex(item));  // no presence bits without data

    EXPECT_TRUE(perDecodeHex("800001028001", item) == false);  // open type cut off
    EXPECT_FALSE(perDecodeHex("80000102800200", item));       // runs one octet past the end
}

TEST(PerDecoder, KnownAdditionIsReadWithinItsOpenType) {
    Item item;
    ASSERT_TRUE(perDecodeHex("80000901030203E8", item));  // weight 1000 wrapped
    EXPECT_EQ(1000, item.field<INTEGER>(Item::weight).getValue());
    // The weight claims two octets while its open type holds one.
    EXPECT_FALSE(perDecodeHex("8000010101020506", item));
}

TEST(PerDecoder, TooManyAdditionBitsFail) {
    Item item;
    // 129 presence bits announced (normally small 128 in its long form).
    EXPECT_FALSE(perDecodeHex("800001C0018000", item));
}

TEST(PerDecoder, DecodingAgainClearsAdditionsTheDataDoesNotHave) {
    Item item;
    ASSERT_TRUE(perDecodeHex("80000901030203E8", item));
    ASSERT_TRUE(perDecodeHex("000002", item));
    EXPECT_FALSE(item.hasOptionalField(Item::weight_id));
    EXPECT_EQ("000002", perHex(item));
}

// An alternative of a later version fails the decoding, but only once read
// whole (its open type within the data) is it marked unknown, and the
// decoder says so, also from inside an open type: apart from octets that do
// not decode.
TEST(PerDecoder, ExtensionAlternativeBeyondTheKnownOnesIsSkippedWholeAndFails) {
    struct Row {
        const char* hex;
        int selection;
    };
    for (const Row& row : {Row{"820100", CHOICE::UNKNOWN_SELECTION},  // index 3 + 2
                           Row{"82020000", CHOICE::UNKNOWN_SELECTION},
                           Row{"820200", CHOICE::NOT_SELECTED},  // runs past the end
                           Row{"82", CHOICE::NOT_SELECTED}}) {
        const std::vector<char> octets = fromHex(row.hex);
        PERDecoder decoder(octets.data(), octets.data() + octets.size());
        Alternatives value;
        EXPECT_FALSE(value.accept(decoder)) << row.hex;
        EXPECT_EQ(row.selection, value.currentSelection()) << row.hex;
        const bool unknown = row.selection == CHOICE::UNKNOWN_SELECTION;
        EXPECT_EQ(unknown, decoder.leftChoiceUnknown()) << row.hex;

        OpenData held;
        held.grab(new Alternatives);
        held.buf() = octets;
        PERDecoder outer(nullptr, nullptr);
        EXPECT_FALSE(outer.do_revisit(held)) << row.hex;
        EXPECT_EQ(decoder.leftChoiceUnknown(), outer.leftChoiceUnknown()) << row.hex;
    }
    const std::vector<char> octets = fromHex("820200007F");
    PERDecoder decoder(octets.data(), octets.data() + octets.size());
    Alternatives value;
    EXPECT_FALSE(value.accept(decoder));
    EXPECT_EQ(octets.data() + 4, decoder.getPosition()) << "the end of its open type";
}

TEST(PerDecoder, ExtensionIndexThatWouldWrapFails) {
    // 15 root alternatives + 0xFFFFFFF0 wraps to -1, "nothing selected".
    Command command;
    EXPECT_FALSE(perDecodeHex("C004FFFFFFF00100", command));
    EXPECT_EQ(CHOICE::UNKNOWN_SELECTION, command.currentSelection());
    // 3 + 0xFFFFFFFF would wrap onto the root alternative "text".
    Alternatives value;
    EXPECT_FALSE(perDecodeHex("C004FFFFFFFF0100", value));
    EXPECT_EQ(CHOICE::UNKNOWN_SELECTION, value.currentSelection());
}

// No version sends it (a later one adds extension alternatives): it is no
// unknown alternative, nothing is selected.
TEST(PerDecoder, RootIndexPastTheRootAlternativesFails) {
    Alternatives value;  // three root alternatives: index 3 is not one of them
    EXPECT_FALSE(perDecodeHex("60", value));
    EXPECT_EQ(CHOICE::NOT_SELECTED, value.currentSelection());
}

TEST(PerDecoder, ChoiceWithOneAlternativeNeedsNoBits) {
    static const TypeInfo* const only[] = {&Null::theInfo};
    static const char* const names[] = {"only"};
    static const ChoiceInfo single = {{&createValue<CHOICE>, tags::NONE}, false, only, 1, 1, names};
    static const TypeInfo* const fields[] = {&Constrained_INTEGER<FixedConstraint, 0, 255>::theInfo,
                                             &single};
    static const int ids[] = {-1, -1};
    static const char* const fieldNames[] = {"a", "b"};
    static const SequenceInfo info = {
        {&createValue<SEQUENCE>, tags::SEQUENCE}, false, fields, ids, 2, 0, 0, fieldNames};
    SEQUENCE value(&info);
    ASSERT_TRUE(perDecodeHex("05", value));  // the CHOICE comes after the last octet
    EXPECT_EQ(0, value.field<CHOICE>(1).currentSelection());
}

TEST(PerDecoder, EnumerationAboveItsMaximumFails) {
    Colour colour;
    EXPECT_FALSE(perDecodeHex("C0", colour));  // 3 of red..blue
    ErrorCause cause;
    EXPECT_FALSE(perDecodeHex("68", cause));  // root value 13 of 0..12
    ASSERT_TRUE(perDecodeHex("8ED0", cause));  // 13 as an extension value
    EXPECT_EQ(13, cause.getValue());
    EXPECT_FALSE(perDecodeHex("8640", cause));  // 2 sent as an extension value
    EXPECT_FALSE(perDecodeHex("80", cause));    // extension count 0
}

TEST(PerDecoder, CharacterIndexPastThePermittedSetFails) {
    NumericString digits(&DigitsInfo);
    ASSERT_TRUE(perDecodeHex("00A0", digits));  // length 1, aligned index 10
    EXPECT_EQ("9", digits);
    EXPECT_FALSE(perDecodeHex("00E0", digits));  // index 14 of 11
    IA5String code(&CodeInfo);
    EXPECT_FALSE(perDecodeHex("28", code));  // index 10 of 10 digits
}

TEST(PerDecoder, MalformedTimesAndIdentifiersFail) {
    GeneralizedTime time;
    EXPECT_FALSE(perDecodeHex("00", time));
    EXPECT_FALSE(perDecodeHex("0F3230", time));
    OBJECT_IDENTIFIER oid;
    EXPECT_FALSE(perDecodeHex("0181", oid));
    EXPECT_FALSE(perDecodeHex("032A86", oid));
}

TEST(PerDecoder, FailingElementIsDroppedWithTheOnesAfterIt) {
    ItemList list;
    // Three items announced, the third cut short.
    EXPECT_FALSE(perDecodeHex("03000001000002", list));
    EXPECT_EQ(2u, list.size());
}

TEST(PerDecoder, OpenTypesKeepTheirOctetsOrTheirValue) {
    Carrier carrier;
    ASSERT_TRUE(perDecodeHex("03000003" "03000007", carrier));
    const auto& open = carrier.field<OpenData>(Carrier::open);
    ASSERT_TRUE(open.has_buf());
    EXPECT_EQ(3u, open.get_buf()->size());
    const auto& typed = carrier.field<TypeConstrainedOpenData>(Carrier::item);
    EXPECT_EQ(7, static_cast<const Item*>(typed.get_data())->field<INTEGER>(Item::id).getValue());
    EXPECT_EQ("03000003" "03000007", perHex(carrier));

    auto& held = carrier.field<OpenData>(Carrier::open);
    held.grab(new Item);
    PERDecoder decoder(nullptr, nullptr);
    ASSERT_TRUE(decoder.do_revisit(held));
    EXPECT_EQ(3, static_cast<const Item*>(held.get_data())->field<INTEGER>(Item::id).getValue());

    EXPECT_FALSE(perDecodeHex("0300" "03000007", carrier));  // open type past the end
}

}  // namespace
}  // namespace Test
