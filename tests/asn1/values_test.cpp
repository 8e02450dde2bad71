// The value classes: construction from records, optional fields, selections,
// lists, copies, comparison, and the string, identifier and time values.

#include "tests/asn1/test_module.h"

#include <gtest/gtest.h>

#include <memory>

namespace Test {
namespace {

using namespace ASN1;

TEST(RuntimeHelpers, CountBitsGivesTheWidthOfAConstrainedNumber) {
    EXPECT_EQ(32u, CountBits(0));
    EXPECT_EQ(0u, CountBits(1));
    EXPECT_EQ(1u, CountBits(2));
    EXPECT_EQ(8u, CountBits(256));
    EXPECT_EQ(9u, CountBits(257));
}

TEST(RuntimeHelpers, ByteRangesCompareAsUnsignedWithPrefixesFirst) {
    const char ab[] = "ab", abc[] = "abc", high[] = "\xff";
    EXPECT_EQ(-1, lexicographic_compare_bytes(ab, ab + 2, abc, abc + 3));
    EXPECT_EQ(1, lexicographic_compare_bytes(abc, abc + 3, ab, ab + 2));
    EXPECT_EQ(0, lexicographic_compare_bytes(ab, ab, abc, abc));
    EXPECT_GT(lexicographic_compare_bytes(high, high + 1, ab, ab + 1), 0);
}

struct IntegerCounter : ConstVisitor {
    using ConstVisitor::do_visit;
    int integers = 0;
    bool do_visit(const INTEGER&) override { return ++integers > 0; }
};

TEST(Visitors, AnIntegerOverrideAlsoServesNamedIntegersAndOtherScalarsAreAccepted) {
    static const NameEntry names[] = {{1, "one"}};
    static const IntegerWithNamedNumberInfo info = {
        {{&createValue<IntegerWithNamedNumber>, tags::INTEGER}, Unconstrained, 0, 0xFFFFFFFFu},
        names, 1};
    IntegerWithNamedNumber named(1, &info);
    IntegerCounter counter;
    EXPECT_TRUE(named.accept(counter));
    EXPECT_EQ(1, counter.integers);
    EXPECT_STREQ("one", named.getName());
    EXPECT_TRUE(BOOLEAN().accept(counter));
    EXPECT_TRUE(Colour().accept(counter));
    EXPECT_TRUE(OCTET_STRING().accept(counter));
    EXPECT_EQ(1, counter.integers);
}

TEST(Scalars, FullRangeUnsignedIntegerKeepsItsTopValue) {
    Constrained_INTEGER<FixedConstraint, 0, 4294967295u> word;
    word = 4294967295u;
    EXPECT_EQ(4294967295u, word.getValue());
    EXPECT_TRUE(word.isUnsigned());
    EXPECT_FALSE(INTEGER().isUnsigned());
}

TEST(Scalars, SparseEnumerationNamesAreFoundByValue) {
    Dscp dscp;
    dscp.setValue(Dscp::ef);
    EXPECT_STREQ("ef", dscp.getName());
    dscp.setValue(11);
    EXPECT_EQ(nullptr, dscp.getName());
    EXPECT_EQ(46, dscp.getMaximum());
    EXPECT_STREQ("destroyInProgress", ErrorCause(ErrorCause::destroyInProgress).getName());
}

TEST(Sequence, NewValueHoldsItsMandatoryFieldsOnly) {
    Envelope message;
    EXPECT_EQ(nullptr, message.getField(Envelope::seq));
    EXPECT_EQ(nullptr, message.getField(Envelope::slot));
    EXPECT_FALSE(message.hasOptionalField(Envelope::seq_id));
    EXPECT_FALSE(message.hasOptionalField(Envelope::slot_id));
    // The mandatory field is of the generated class its record names.
    EXPECT_NE(nullptr, dynamic_cast<PDU*>(message.getField(Envelope::pdu)));
    EXPECT_EQ(CHOICE::NOT_SELECTED, message.field<PDU>(Envelope::pdu).currentSelection());
}

TEST(Sequence, IncludingAFieldCreatesItFromItsRecord) {
    Envelope message;
    message.includeOptionalField(Envelope::slot_id, Envelope::slot);
    EXPECT_TRUE(message.hasOptionalField(Envelope::slot_id));
    auto& slot = message.field<SlotNumber>(Envelope::slot);
    EXPECT_EQ(0u, slot.getValue());
    EXPECT_EQ(1023u, slot.upperLimit());
}

TEST(Sequence, RemovedFieldComesBackWithItsEarlierValue) {
    Envelope message;
    message.includeOptionalField(Envelope::seq_id, Envelope::seq);
    message.field<INTEGER>(Envelope::seq).setValue(42);
    message.removeOptionalField(Envelope::seq_id);
    EXPECT_FALSE(message.hasOptionalField(Envelope::seq_id));
    message.includeOptionalField(Envelope::seq_id, Envelope::seq);
    EXPECT_EQ(42, message.field<INTEGER>(Envelope::seq).getValue());
}

TEST(Sequence, IncludingAnAdditionGrowsTheExtensionMapToIt) {
    Everything value;
    EXPECT_EQ(0u, value.extensionMap().size());
    value.includeOptionalField(Everything::more_id, Everything::more);
    EXPECT_EQ(2u, value.extensionMap().size());  // id 2 - 1 optional root field + 1
    EXPECT_TRUE(value.hasOptionalField(Everything::more_id));
    EXPECT_FALSE(value.hasOptionalField(Everything::added_id));
    EXPECT_FALSE(value.hasOptionalField(40));
}

struct ExtensionWalkRecorder : ConstVisitor {
    using ConstVisitor::do_visit;
    int extensionWalks = 0;
    bool visitExtensionRoot(const SEQUENCE&, int) override { return true; }
    bool preVisitExtensions(const SEQUENCE&) override { return ++extensionWalks > 0; }
    bool visitKnownExtension(const SEQUENCE&, int) override { return true; }
};

TEST(Sequence, WalkSkipsTheAdditionsOfAValueWithoutAny) {
    Item item;
    ExtensionWalkRecorder recorder;
    EXPECT_TRUE(item.accept(recorder));
    EXPECT_EQ(0, recorder.extensionWalks);
    item.includeOptionalField(Item::weight_id, Item::weight);
    EXPECT_TRUE(item.accept(recorder));
    EXPECT_EQ(1, recorder.extensionWalks);
}

TEST(Sequence, ValuesThatDifferInOneAdditionCompareUnequal) {
    Everything a, b;
    fillEverything(a);
    fillEverything(b);
    EXPECT_EQ(0, a.compare(b));
    b.field<INTEGER>(Everything::added).setValue(6);
    EXPECT_LT(a.compare(b), 0);
    b.field<INTEGER>(Everything::added).setValue(5);
    b.removeOptionalField(Everything::added_id);
    EXPECT_GT(a.compare(b), 0);
}

TEST(Sequence, CopyIsDeepAndOfTheSameClass) {
    Everything original;
    fillEverything(original);
    std::unique_ptr<AbstractData> copy(original.clone());
    ASSERT_NE(nullptr, dynamic_cast<Everything*>(copy.get()));
    EXPECT_EQ(0, copy->compare(original));
    auto& list = static_cast<Everything&>(*copy).field<ItemList>(Everything::list);
    list[0].field<INTEGER>(Item::id).setValue(99);
    EXPECT_NE(0, copy->compare(original));
    EXPECT_EQ(1, original.field<ItemList>(Everything::list)[0].field<INTEGER>(Item::id).getValue());
}

TEST(Sequence, AssignmentKeepsTheTargetsRecord) {
    SlotNumber slot;
    INTEGER plain;
    plain.setValue(2000);
    slot = plain;
    EXPECT_EQ(2000u, slot.getValue());
    EXPECT_EQ(&SlotNumber::theInfo, slot.info());
}

TEST(Choice, UnknownIndexLeavesNoAlternative) {
    Command command;
    command.setSelection(15, nullptr);
    EXPECT_FALSE(command.createSelection());
    EXPECT_EQ(CHOICE::UNKNOWN_SELECTION, command.currentSelection());
    EXPECT_EQ(nullptr, command.getSelection());
}

TEST(Choice, SelectCreatesTheAlternativeOfItsRecord) {
    PDU pdu;
    Command& command = pdu.select<Command>(PDU::command);
    command.select<SlotNumber>(Command::connect) = 12u;
    EXPECT_EQ(PDU::command, pdu.currentSelection());
    EXPECT_EQ(12u, pdu.alternative<Command>().alternative<SlotNumber>().getValue());
    // Selecting the same index again keeps the alternative.
    EXPECT_EQ(12u, command.select<SlotNumber>(Command::connect).getValue());
}

TEST(Choice, ComparesBySelectionThenAlternative) {
    Alternatives a, b;
    a.select<INTEGER>(Alternatives::number).setValue(1);
    b.select<INTEGER>(Alternatives::number).setValue(2);
    EXPECT_LT(a.compare(b), 0);
    b.select<Null>(Alternatives::none);
    EXPECT_GT(a.compare(b), 0);
}

TEST(SequenceOf, ResizeDeletesAndCreatesElements) {
    ItemList list;
    list.resize(3);
    list[2].field<INTEGER>(Item::id).setValue(5);
    list.resize(1);
    EXPECT_EQ(1u, list.size());
    list.resize(3);
    EXPECT_EQ(3u, list.size());
    EXPECT_EQ(0, list[2].field<INTEGER>(Item::id).getValue());
}

TEST(SequenceOf, TypedFaceIteratesAndErases) {
    ItemList list;
    Item item;
    for (int id = 1; id <= 3; ++id) {
        item.field<INTEGER>(Item::id).setValue(id);
        list.push_back(item);
    }
    auto next = list.erase(list.begin() + 1);
    EXPECT_EQ(3, next->field<INTEGER>(Item::id).getValue());
    int sum = 0;
    const ItemList& view = list;
    for (const Item& element : view) sum += element.field<INTEGER>(Item::id).getValue();
    EXPECT_EQ(4, sum);
    list.insert(list.begin().base(), 2, item);
    EXPECT_EQ(4u, list.size());
}

TEST(OpenTypes, CopyKeepsValueAndOctetsAndComparesThem) {
    OpenData open;
    EXPECT_FALSE(open.has_data());
    open.buf() = {1, 2};
    OpenData copy(open);
    EXPECT_TRUE(copy.has_buf());
    EXPECT_EQ(0, copy.compare(open));
    OpenData decoded;
    decoded.grab(new Item);
    EXPECT_GT(decoded.compare(open), 0);
    EXPECT_LT(open.compare(decoded), 0);
}

TEST(ObjectIdentifier, ContentsOctetsFollowTheFirstTwoArcsRule) {
    OBJECT_IDENTIFIER oid{2, 100, 3};
    std::vector<char> octets;
    oid.encodeCommon(octets);
    EXPECT_EQ((std::vector<char>{'\x81', '\x34', '\x03'}), octets);
    OBJECT_IDENTIFIER back;
    ASSERT_TRUE(back.decodeCommon(octets.data(), 3));
    EXPECT_EQ((std::vector<unsigned>{2, 100, 3}), back.arcs());
    ASSERT_TRUE(back.decodeCommon("\x2A", 1));
    EXPECT_EQ((std::vector<unsigned>{1, 2}), back.arcs());
    EXPECT_FALSE(back.decodeCommon("\x81", 1));
    EXPECT_FALSE(back.decodeCommon("\x9F\xFF\xFF\xFF\x7F", 5));  // past 32 bits

    OBJECT_IDENTIFIER single{7};
    octets.clear();
    single.encodeCommon(octets);
    EXPECT_TRUE(octets.empty());
}

TEST(BitString, EqualBytesCompareByBitCount) {
    BIT_STRING seven, eight;
    seven.resize(7);
    eight.resize(8);
    EXPECT_EQ(-1, seven.compare(eight));
}

TEST(Strings, CompareByCharactersThenLength) {
    EXPECT_LT(IA5String("abc").compare(IA5String("abd")), 0);
    EXPECT_GT(IA5String("abc").compare(IA5String("ab")), 0);
    EXPECT_LT(BMPString(L"ab").compare(BMPString(L"abc")), 0);
}

TEST(Strings, PermittedSetIndexes) {
    NumericString digits;
    EXPECT_EQ(0, digits.indexOf(' '));
    EXPECT_EQ(10, digits.indexOf('9'));
    EXPECT_EQ(-1, digits.indexOf('a'));
    EXPECT_EQ(255, GeneralString().indexOf('\xff'));
    EXPECT_EQ(-1, IA5String().indexOf('\x80'));
}

TEST(GeneralizedTime, FractionAndZonePrintBack) {
    GeneralizedTime utc("20240215184100.5Z");
    EXPECT_EQ(500, utc.millisec);
    EXPECT_TRUE(utc.utc);
    EXPECT_EQ("20240215184100.500Z", utc.get());

    GeneralizedTime offset("20240215184100+0130");
    EXPECT_EQ(90, offset.mindiff);
    EXPECT_EQ("20240215184100+0130", offset.get());
    EXPECT_EQ("20240215184100-0030", GeneralizedTime("20240215184100-0030").get());
    EXPECT_EQ("20240215184100.123", GeneralizedTime("20240215184100.123").get());
}

TEST(GeneralizedTime, DefaultIsYearOneAndConvertsFromTimeT) {
    GeneralizedTime time;
    EXPECT_EQ("00010101000000", time.get());
    time.set_time_t(86400 + 3661);
    EXPECT_EQ("19700102010101", time.get());
    EXPECT_GT(GeneralizedTime("20240215184100Z").compare(time), 0);
}

// Texts from outside (a decoded message, value notation) may stop anywhere:
// what they do not give keeps its value, and nothing past them is read.
TEST(GeneralizedTime, ShortTextsAreReadWithoutRunningPastThem) {
    for (const char* text : {"", "2", "Z", "+", "-013", "2024021518410", "20240215184100.",
                             "20240215184100+01"}) {
        const std::string copy(text);  // exactly as long as the text, for the sanitizers
        GeneralizedTime time;
        time.set(copy.c_str());
        EXPECT_EQ(0, time.millisec) << text;
    }
    GeneralizedTime partial("2024");
    EXPECT_EQ(2024, partial.year);
    EXPECT_EQ(1, partial.month);
}

}  // namespace
}  // namespace Test
