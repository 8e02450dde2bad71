// Value notation: the indented text that traces show, and reading it back.

#include "tests/asn1/test_module.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

namespace Test {
namespace {

using namespace ASN1;

// An enumeration with a negative and a sparse value, as some message types
// declare them: not-use(-1), off, speak(4).
const NameEntry ModeNames[] = {{-1, "not-use"}, {0, "off"}, {4, "speak"}};
const EnumeratedInfo ModeInfo = {
    {&createValue<ENUMERATED>, tags::ENUMERATED}, false, 4, ModeNames, 3};

// SEQUENCE { a INTEGER OPTIONAL, b BOOLEAN OPTIONAL }
const TypeInfo* const OptionalsFields[] = {&INTEGER::theInfo, &BOOLEAN::theInfo};
const int OptionalsIds[] = {0, 1};
const char* const OptionalsNames[] = {"a", "b"};
const SequenceInfo OptionalsInfo = {
    {&createValue<SEQUENCE>, tags::SEQUENCE}, false, OptionalsFields, OptionalsIds, 2, 0, 2,
    OptionalsNames};

const char EverythingText[] = R"({
  flag TRUE,
  nothing NULL,
  small 5,
  byte -5,
  slot 1000,
  word 70000,
  range3 300000,
  big -129,
  semi 300,
  ext 11,
  colour blue,
  cause invalidSlot,
  dscp ef,
  octets '01 02 03'H,
  pair 'ab cd'H,
  shortOctets '07'H,
  bits '101'B,
  flags '000000000001'B,
  text "hello",
  name "gw",
  digits "12 3",
  code "42",
  printable "Ab",
  bmp "ab",
  oid { 1 2 840 },
  time "20240215184100.500Z",
  choice number : 7,
  list {
    {
      id 1
    },
    {
      id 2,
      label "two"
    }
  },
  bounded {
    9
  },
  added 5,
  more {
    id 3
  }
})";

TEST(ValueNotationPrinter, WritesOneFieldPerLineWithNestedBracesIndented) {
    EXPECT_EQ("{\n  seq 5,\n  slot 3,\n  pdu command : ping : NULL\n}",
              pingEnvelope(5, 3).asValueNotation());
    Everything value;
    fillEverything(value);
    EXPECT_EQ(EverythingText, value.asValueNotation());
}

TEST(ValueNotationPrinter, LeavesTheCallersStreamFormatAsItFoundIt) {
    OCTET_STRING octets(std::vector<char>{1, '\xAB'});
    std::ostringstream out;
    out << std::hex << std::uppercase << std::setfill('*');
    const auto flags = out.flags();
    out << octets << ' ' << INTEGER(31, &INTEGER::theInfo) << ' ' << 255;
    EXPECT_EQ("'01 ab'H 31 FF", out.str());
    EXPECT_EQ(flags, out.flags());
    EXPECT_EQ('*', out.fill());
}

TEST(ValueNotationPrinter, NamesEnumeratorsByValueAndPrintsOtherValuesAsNumbers) {
    EXPECT_EQ("invalidSlot", ErrorCause(ErrorCause::invalidSlot).asValueNotation());
    ErrorCause beyondRoot;
    beyondRoot.setValue(13);
    EXPECT_EQ("13", beyondRoot.asValueNotation());
    Dscp dscp;
    dscp.setValue(Dscp::ef);
    EXPECT_EQ("ef", dscp.asValueNotation());
    dscp.setValue(11);  // between two names, and past the table's three entries
    EXPECT_EQ("11", dscp.asValueNotation());
    ENUMERATED mode(&ModeInfo, -1);
    EXPECT_EQ("not-use", mode.asValueNotation());
    mode.setValue(4);
    EXPECT_EQ("speak", mode.asValueNotation());
}

TEST(ValueNotationPrinter, ReadsIntegersAsTheirConstraintSays) {
    Constrained_INTEGER<FixedConstraint, 0, 4294967295u> word;
    word = 4294967295u;
    EXPECT_EQ("4294967295", word.asValueNotation());
    EXPECT_EQ("-1", INTEGER(-1, &INTEGER::theInfo).asValueNotation());
    Constrained_INTEGER<FixedConstraint, -128, 127> small;
    small.setValue(-5);
    EXPECT_EQ("-5", small.asValueNotation());
}

TEST(ValueNotationPrinter, WritesEmptyAndBitValues) {
    EXPECT_EQ("{\n}", ItemList().asValueNotation());
    BIT_STRING bits;
    EXPECT_EQ("''B", bits.asValueNotation());
    bits.resize(3);
    bits.set(0);
    bits.set(2);
    EXPECT_EQ("'101'B", bits.asValueNotation());
    EXPECT_EQ("{ }", OBJECT_IDENTIFIER().asValueNotation());
}

TEST(ValueNotationPrinter, AChoiceWithoutSelectionFailsTheStream) {
    Envelope message;  // pdu not selected
    std::ostringstream out;
    EXPECT_EQ(std::ios_base::failbit, message.print_on(out));
    out << message;
    EXPECT_TRUE(out.fail());
    const std::string partial = out.str();
    out << pingEnvelope(1, 1);  // a failing stream takes nothing more
    EXPECT_EQ(partial, out.str());
    EXPECT_EQ("{\n  pdu ", message.asValueNotation());
}

TEST(ValueNotationParser, FillsOptionalFieldsOnlyWhenTheTextNamesThem) {
    Envelope message;
    ASSERT_TRUE(message.setFromValueNotation("{ seq 5, slot 3, pdu command : ping : NULL }"));
    EXPECT_EQ(pingEnvelope(5, 3), message);
    ASSERT_TRUE(message.setFromValueNotation("{ pdu command : ping : NULL }"));
    EXPECT_FALSE(message.hasOptionalField(Envelope::seq_id));
    EXPECT_FALSE(message.hasOptionalField(Envelope::slot_id));
    EXPECT_EQ(pingEnvelope(), message);

    SEQUENCE optionals(&OptionalsInfo);
    ASSERT_TRUE(optionals.setFromValueNotation("{ }"));
    EXPECT_FALSE(optionals.hasOptionalField(0));
    ASSERT_TRUE(optionals.setFromValueNotation("{b TRUE}"));
    EXPECT_FALSE(optionals.hasOptionalField(0));
    EXPECT_TRUE(optionals.field<BOOLEAN>(1).getValue());
}

TEST(ValueNotationParser, ReadsScalarsInTheirTextForms) {
    OCTET_STRING octets;
    ASSERT_TRUE(octets.setFromValueNotation("'0A FF'H"));
    EXPECT_EQ(std::vector<char>({0x0A, '\xFF'}), octets);
    ASSERT_TRUE(octets.setFromValueNotation("'0A F'H"));
    EXPECT_EQ(std::vector<char>({0x0A, '\xF0'}), octets);
    BIT_STRING bits;
    ASSERT_TRUE(bits.setFromValueNotation("'101'B"));
    EXPECT_EQ("'101'B", bits.asValueNotation());

    BOOLEAN flag;
    ASSERT_TRUE(flag.setFromValueNotation("TRUE"));
    EXPECT_TRUE(flag.getValue());
    flag.setValue(false);
    ASSERT_TRUE(flag.setFromValueNotation("T R U E"));
    EXPECT_TRUE(flag.getValue());

    OBJECT_IDENTIFIER numbers, named;
    ASSERT_TRUE(numbers.setFromValueNotation("{ 1 2 840 }"));
    ASSERT_TRUE(named.setFromValueNotation("{ iso(1) 2 840 }"));
    EXPECT_EQ(numbers, named);
    EXPECT_EQ(std::vector<unsigned>({1, 2, 840}), named.arcs());

    ENUMERATED mode(&ModeInfo);
    ASSERT_TRUE(mode.setFromValueNotation("not-use"));
    EXPECT_EQ(-1, mode.getValue());
    ASSERT_TRUE(mode.setFromValueNotation("3"));  // a number without a name reads back
    EXPECT_EQ(3, mode.getValue());
}

TEST(ValueNotationParser, ReadsBackWhatThePrinterWrites) {
    Everything value;
    fillEverything(value);
    Everything parsed;
    ASSERT_TRUE(parsed.setFromValueNotation(value.asValueNotation()));
    EXPECT_EQ(value, parsed);

    // Quotes inside a text are doubled; characters the locale cannot write
    // go as quadruples.
    value.field<IA5String>(Everything::text) = "say \"hi\"";
    value.field<BMPString>(Everything::bmp) = std::wstring(L"a\x20AC");
    const std::string text = value.asValueNotation();
    EXPECT_NE(std::string::npos, text.find("text \"say \"\"hi\"\"\","));
    EXPECT_NE(std::string::npos, text.find("bmp {{ 0, 0, 0, 97}, { 0, 0, 32, 172}},"));
    ASSERT_TRUE(parsed.setFromValueNotation(text));
    EXPECT_EQ(value, parsed);
}

TEST(ValueNotationParser, RefusesTextThatDoesNotFitTheType) {
    Envelope message;
    for (const char* text : {
             "{ seq 5 }",                                     // mandatory pdu missing
             "{ }",                                           // the same
             "{ seq 5, pdu command : ping : NULL, extra 1 }", // a field the type lacks
             "{ pdu command ping : NULL }",                   // no ':'
             "{ pdu command : pong : NULL }",                 // no such alternative
             "{ slot 3, seq 5, pdu command : ping : NULL }",  // out of order
             "{ seq 5x, pdu command : ping : NULL }",
             "{ seq 4294967296, pdu command : ping : NULL }",
             "{ slot -1, pdu command : ping : NULL }",        // slot reads unsigned
             "{ pdu response : error : noSuchCause }",
             "{ pdu command : ping : NULL",
         }) {
        EXPECT_FALSE(message.setFromValueNotation(text)) << text;
    }
    EXPECT_TRUE(message.setFromValueNotation("{ seq 5, pdu command : ping : NULL, }"));
}

TEST(ValueNotationParser, EveryCutOfAValidTextFails) {
    Everything value;
    fillEverything(value);
    const std::string text = value.asValueNotation();
    for (size_t length = 0; length < text.size(); ++length) {
        Everything parsed;
        EXPECT_FALSE(parsed.setFromValueNotation(text.substr(0, length))) << length;
    }
}

std::string nestedTree(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "node : { ";
    text += "leaf : 1";
    for (int i = 0; i < depth; ++i) text += " }";
    return text;
}

TEST(ValueNotationParser, FollowsNestingOnlyToTheRuntimeLimit) {
    Tree tree;
    EXPECT_TRUE(tree.setFromValueNotation(nestedTree(20)));
    EXPECT_FALSE(tree.setFromValueNotation(nestedTree(MaximumNestingDepth)));
}

TEST(ValueNotationParser, StreamOperatorSetsTheFailStateOnBadText) {
    std::istringstream good("{ seq 7, pdu command : ping : NULL } trailing");
    Envelope message;
    good >> message;
    EXPECT_FALSE(good.fail());
    EXPECT_EQ(pingEnvelope(7), message);

    std::istringstream bad("{ seq seven }");
    bad >> message;
    EXPECT_TRUE(bad.fail());

    std::istringstream throwing("{ seq seven }");
    throwing.exceptions(std::ios_base::failbit);
    EXPECT_THROW(throwing >> message, std::ios_base::failure);
}

}  // namespace
}  // namespace Test
