// Constraint checks at both levels, and the tracer that names the path to
// the value that fails.

#include "asn1/validity.h"
#include "tests/asn1/test_module.h"

#include <gtest/gtest.h>

#include <sstream>

namespace Test {
namespace {

using namespace ASN1;

// The explanation trace_invalid writes after the prefix, or "valid".
std::string traced(const AbstractData& value) {
    std::ostringstream out;
    if (trace_invalid(out, "bad:", value)) return out.str().empty() ? "valid" : "wrote: " + out.str();
    const std::string text = out.str();
    return text.substr(4, text.size() - 5);  // without the prefix and the end of line
}

template <class T>
T integer(long long value) {
    T result;
    result.setValue(static_cast<unsigned>(value));
    return result;
}

TEST(Validity, FixedRangesHoldTheirValuesAndExtendableOnesMayCarryMore) {
    const auto slot = integer<SlotNumber>(1024);
    EXPECT_FALSE(slot.isValid());
    EXPECT_FALSE(slot.isStrictlyValid());
    EXPECT_EQ(" The INTEGER value 1024 is greater than upper bound 1023", traced(slot));

    const auto ext = integer<Constrained_INTEGER<ExtendableConstraint, 0, 10>>(11);
    EXPECT_TRUE(ext.isValid());
    EXPECT_FALSE(ext.isStrictlyValid());
    EXPECT_EQ("valid", traced(ext));
}

TEST(Validity, RangesWithANegativeLowerBoundAndFullWordRangesCompareSoundly) {
    typedef Constrained_INTEGER<FixedConstraint, -128, 127> Small;
    EXPECT_TRUE(integer<Small>(-5).isStrictlyValid());
    EXPECT_TRUE(integer<Small>(-128).isStrictlyValid());
    EXPECT_EQ(" The INTEGER value -129 is smaller than lower bound -128", traced(integer<Small>(-129)));
    EXPECT_EQ(" The INTEGER value 128 is greater than upper bound 127", traced(integer<Small>(128)));

    typedef Constrained_INTEGER<FixedConstraint, 0, 4294967295u> Word;
    EXPECT_TRUE(integer<Word>(4294967295u).isStrictlyValid());
    typedef Constrained_INTEGER<FixedConstraint, 112000, 399975> Range3;
    EXPECT_EQ(" The INTEGER value 5 is smaller than lower bound 112000", traced(integer<Range3>(5)));
    EXPECT_EQ(" The INTEGER value 4294967295 is greater than upper bound 399975",
              traced(integer<Range3>(-1)));
    EXPECT_GT(integer<Word>(4294967295u).compare(integer<Word>(1)), 0);
}

TEST(Validity, EnumerationsBeyondTheirRoot) {
    ErrorCause cause;  // extendable, maximum 12
    cause.setValue(13);
    EXPECT_TRUE(cause.isValid());
    EXPECT_FALSE(cause.isStrictlyValid());
    Colour colour;  // not extendable
    colour.setValue(3);
    EXPECT_FALSE(colour.isValid());
    EXPECT_EQ(" This ENUMERATED has invalid value 3", traced(colour));
}

TEST(Validity, ChoicesNeedAKnownSelection) {
    PDU pdu;
    std::ostringstream out;
    EXPECT_FALSE(trace_invalid(out, "pdu:", pdu));
    EXPECT_EQ("pdu: This CHOICE is not selected\n", out.str());

    pdu.setSelection(CHOICE::UNKNOWN_SELECTION, nullptr);
    EXPECT_EQ(" This selection is not understood by this decoder", traced(pdu));

    Alternatives extension;  // "later" is an addition of an extendable CHOICE
    extension.select<BOOLEAN>(Alternatives::later);
    EXPECT_TRUE(extension.isValid());
    EXPECT_FALSE(extension.isStrictlyValid());
}

TEST(Validity, TimesStringsIdentifiersAndOpenTypes) {
    GeneralizedTime time("20240215184100Z");
    EXPECT_EQ("valid", traced(time));
    time.month = 13;
    EXPECT_EQ(" This GeneralizedTime is not valid", traced(time));

    EXPECT_EQ(" This OBJECT IDENTIFIER is not assigned", traced(OBJECT_IDENTIFIER()));
    EXPECT_EQ(" This Open Type does not contain any valid data", traced(OpenData()));
    OpenData bytes;
    bytes.buf().push_back(1);
    EXPECT_TRUE(bytes.isValid());

    NumericString digits("12a");
    EXPECT_EQ(" The character 'a' is not valid for the string", traced(digits));
    BMPString wide;
    EXPECT_TRUE(wide.isStrictlyValid());
}

TEST(InvalidTracer, NamesThePathToTheFailingValue) {
    Everything value;
    fillEverything(value);
    EXPECT_TRUE(value.isValid());
    EXPECT_FALSE(value.isStrictlyValid());  // ext holds 11 of 0..10, ...

    Everything slot = value;
    slot.field<SlotNumber>(Everything::slot) = 1024u;
    EXPECT_EQ(".slot The INTEGER value 1024 is greater than upper bound 1023", traced(slot));

    Everything element = value;
    element.field<ItemList>(Everything::list)[1].field<INTEGER>(Item::id).setValue(70000);
    EXPECT_EQ(".list[1].id The INTEGER value 70000 is greater than upper bound 65535",
              traced(element));

    Everything bounded = value;
    bounded.field<SEQUENCE_OF_Base>(Everything::bounded).resize(5);
    EXPECT_EQ(".bounded This SEQUENCE OF has size 5 greater than its upper bound 4",
              traced(bounded));

    Everything name = value;
    name.field<IA5String>(Everything::name) = "";
    EXPECT_EQ(".name This AbstractString has size 0 smaller than its lower bound 1",
              traced(name));

    Everything pair = value;
    pair.field<OCTET_STRING>(Everything::pair).push_back(0);
    EXPECT_EQ(".pair This OCTET STRING has size 3 greater than its upper bound 2", traced(pair));

    Envelope message;
    message.field<PDU>(Envelope::pdu)
        .select<Command>(PDU::command)
        .select<SlotNumber>(Command::connect) = 2000u;
    EXPECT_EQ(".pdu.command.connect The INTEGER value 2000 is greater than upper bound 1023",
              traced(message));

    Everything addition = value;
    addition.field<Item>(Everything::more).field<INTEGER>(Item::id).setValue(65536);
    EXPECT_EQ(".more.id The INTEGER value 65536 is greater than upper bound 65535",
              traced(addition));
}

}  // namespace
}  // namespace Test
