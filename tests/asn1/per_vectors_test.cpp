// Known-answer vectors made by an independent aligned-PER encoder
// (vectors/make_vectors.sh): each value must encode to exactly the committed
// octets and decode from them back to an equal value.

#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

namespace Test {
namespace {

using namespace ASN1;

typedef std::function<AbstractData*()> Builder;

template <class T>
Builder integer(long long value) {
    return [value] {
        auto* result = new T;
        result->setValue(static_cast<unsigned>(value));
        return result;
    };
}

Builder envelope(std::optional<int> seq, std::optional<unsigned> slot,
                 std::function<void(PDU&)> fill) {
    return [=] { return new Envelope(makeEnvelope(seq, slot, fill)); };
}

const std::nullopt_t noSeq = std::nullopt;
const std::nullopt_t noSlot = std::nullopt;

void ping(PDU& pdu) { pdu.select<Command>(PDU::command).select<Null>(Command::ping); }

std::function<void(PDU&)> error(ErrorCause::NamedNumber cause) {
    return [cause](PDU& pdu) {
        pdu.select<Response>(PDU::response).select<ErrorCause>(Response::error).setValue(cause);
    };
}

Item* newItem(unsigned id, const char* label = nullptr, const int* weight = nullptr) {
    auto* item = new Item;
    item->field<INTEGER>(Item::id).setValue(id);
    if (label) {
        item->includeOptionalField(Item::label_id, Item::label);
        item->field<IA5String>(Item::label) = label;
    }
    if (weight) {
        item->includeOptionalField(Item::weight_id, Item::weight);
        item->field<INTEGER>(Item::weight).setValue(*weight);
    }
    return item;
}

void setBits(BIT_STRING& bits, const std::string& pattern) {
    bits.resize(static_cast<unsigned>(pattern.size()));
    for (size_t i = 0; i < pattern.size(); ++i) bits.set(static_cast<unsigned>(i), pattern[i] == '1');
}

typedef Constrained_INTEGER<FixedConstraint, 0, 255> Octet;

void fillOther(Everything& v) {
    v.field<BOOLEAN>(Everything::flag) = false;
    v.field<INTEGER>(Everything::byte).setValue(-128);
    v.field<INTEGER>(Everything::word).setValue(4294967295u);
    v.field<INTEGER>(Everything::range3).setValue(112000);
    v.field<INTEGER>(Everything::big).setValue(2147483647);
    v.field<INTEGER>(Everything::semi).setValue(-5);
    v.field<INTEGER>(Everything::ext).setValue(5);
    v.field<ErrorCause>(Everything::cause).setValue(ErrorCause::destroyInProgress);
    v.field<OCTET_STRING>(Everything::pair).assign(2, 0);
    setBits(v.field<BIT_STRING>(Everything::bits), "11110000000011111010");
    setBits(v.field<BIT_STRING>(Everything::flags), "111111111111");
    v.field<IA5String>(Everything::name) = "abcdefghijklmnopqrstuvwxyz";
    v.field<NumericString>(Everything::digits) = "98765432";
    v.field<IA5String>(Everything::code) = "999";
    v.field<OBJECT_IDENTIFIER>(Everything::oid).arcs() = {2, 100, 3};
    v.field<GeneralizedTime>(Everything::time).set("19991231235959Z");
    v.field<Alternatives>(Everything::choice).select<BOOLEAN>(Alternatives::later) = true;
    auto& bounded = v.field<SEQUENCE_OF<Octet>>(Everything::bounded);
    for (unsigned i = 1; i <= 4; ++i) bounded.append().setValue(i);
    v.includeOptionalField(Everything::more_id, Everything::more);
    const int weight = 1000;
    std::unique_ptr<Item> more(newItem(65535, "w", &weight));
    v.field<Item>(Everything::more) = *more;
}

void fillWithItem(Everything& v) {
    v.field<BOOLEAN>(Everything::flag) = true;
    v.field<INTEGER>(Everything::small).setValue(7);
    v.field<INTEGER>(Everything::byte).setValue(127);
    v.field<INTEGER>(Everything::slot).setValue(1023);
    v.field<INTEGER>(Everything::range3).setValue(399975);
    v.field<INTEGER>(Everything::big).setValue(-2147483647 - 1);
    v.field<INTEGER>(Everything::semi).setValue(2147483647);
    v.field<Colour>(Everything::colour).setValue(Colour::green);
    v.includeOptionalField(Everything::dscp_id, Everything::dscp);
    v.field<Dscp>(Everything::dscp).setValue(Dscp::be);
    v.field<OCTET_STRING>(Everything::octets).assign({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    v.field<OCTET_STRING>(Everything::pair).assign({1, 2});
    v.field<OCTET_STRING>(Everything::shortOctets).assign({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    setBits(v.field<BIT_STRING>(Everything::bits), "1");
    setBits(v.field<BIT_STRING>(Everything::flags), "000000000000");
    v.field<IA5String>(Everything::text) = "x";
    v.field<IA5String>(Everything::name) = "y";
    v.field<NumericString>(Everything::digits) = "0";
    v.field<IA5String>(Everything::code) = "0";
    v.field<PrintableString>(Everything::printable) = "z";
    v.field<BMPString>(Everything::bmp) = L"z";
    v.field<OBJECT_IDENTIFIER>(Everything::oid).arcs() = {0, 0};
    v.field<GeneralizedTime>(Everything::time).set("20000101000000Z");
    const int minusOne = -1;
    std::unique_ptr<Item> four(newItem(4, "four", &minusOne));
    v.field<Alternatives>(Everything::choice).select<Item>(Alternatives::item) = *four;
    const int weight = 77;
    std::unique_ptr<Item> five(newItem(5, nullptr, &weight));
    v.field<ItemList>(Everything::list).push_back(*five);
    v.field<SEQUENCE_OF<Octet>>(Everything::bounded).append().setValue(255u);
    v.includeOptionalField(Everything::added_id, Everything::added);
    v.field<INTEGER>(Everything::added).setValue(-300);
}

template <class T>
Builder everything(void (*fill)(Everything&)) {
    return [fill] {
        auto* v = new Everything;
        fill(*v);
        return v;
    };
}

template <class T>
Builder text(const char* characters) {
    return [characters] { return new T(characters); };
}

Builder alternative(std::function<void(Alternatives&)> fill) {
    return [fill] {
        auto* v = new Alternatives;
        fill(*v);
        return v;
    };
}


std::map<std::string, Builder> builders() {
    typedef Constrained_INTEGER<FixedConstraint, 0, 4294967295u> Word;
    typedef Constrained_INTEGER<FixedConstraint, -128, 127> Signed8;
    typedef Constrained_INTEGER<FixedConstraint, 112000, 399975> Range3;
    typedef Constrained_INTEGER<PartiallyConstrained, -5, 0xFFFFFFFFu> Semi;
    typedef Constrained_INTEGER<ExtendableConstraint, 0, 10> Ext;
    const int weight = 1000;
    return {
        {"envelope_seq_ping", envelope(5, noSlot, ping)},
        {"envelope_ping", envelope(noSeq, noSlot, ping)},
        {"envelope_seq_slot_ping", envelope(5, 3, ping)},
        {"envelope_success", envelope(5, 3, [](PDU& pdu) {
             pdu.select<Response>(PDU::response).select<Null>(Response::success);
         })},
        {"envelope_error", envelope(5, 3, error(ErrorCause::invalidSlot))},
        {"envelope_destroy_in_progress", envelope(300, 1023, error(ErrorCause::destroyInProgress))},
        {"envelope_connect", envelope(noSeq, 1023, [](PDU& pdu) {
             pdu.select<Command>(PDU::command).select<SlotNumber>(Command::connect) = 17u;
         })},
        {"envelope_user_data", envelope(noSeq, 7, [](PDU& pdu) {
             pdu.select<Command>(PDU::command)
                 .select<OCTET_STRING>(Command::userData)
                 .assign({'\xDE', '\xAD', '\xBE', '\xEF'});
         })},
        {"envelope_number", envelope(noSeq, 0, [](PDU& pdu) {
             pdu.select<Signal>(PDU::signal).select<IA5String>(Signal::number) = "5551234";
         })},
        {"envelope_abort", envelope(-1, noSlot, [](PDU& pdu) {
             pdu.select<Signal>(PDU::signal).select<INTEGER>(Signal::abort).setValue(-129);
         })},
        {"everything_full", everything<Everything>(fillEverything)},
        {"everything_other", everything<Everything>(fillOther)},
        {"everything_item", everything<Everything>(fillWithItem)},
        {"slot_0", integer<SlotNumber>(0)},
        {"slot_3", integer<SlotNumber>(3)},
        {"slot_1023", integer<SlotNumber>(1023)},
        {"word_0", integer<Word>(0)},
        {"word_70000", integer<Word>(70000)},
        {"word_max", integer<Word>(4294967295u)},
        {"signed8_min", integer<Signed8>(-128)},
        {"signed8_minus5", integer<Signed8>(-5)},
        {"signed8_max", integer<Signed8>(127)},
        {"range3_low", integer<Range3>(112000)},
        {"range3_high", integer<Range3>(399975)},
        {"big_0", integer<INTEGER>(0)},
        {"big_127", integer<INTEGER>(127)},
        {"big_128", integer<INTEGER>(128)},
        {"big_minus1", integer<INTEGER>(-1)},
        {"big_minus128", integer<INTEGER>(-128)},
        {"big_minus129", integer<INTEGER>(-129)},
        {"big_256", integer<INTEGER>(256)},
        {"big_max", integer<INTEGER>(2147483647)},
        {"big_min", integer<INTEGER>(-2147483648LL)},
        {"semi_low", integer<Semi>(-5)},
        {"semi_300", integer<Semi>(300)},
        {"semi_max", integer<Semi>(2147483647)},
        {"ext_5", integer<Ext>(5)},
        {"ext_11", integer<Ext>(11)},
        {"ext_minus1", integer<Ext>(-1)},
        {"colour_blue", [] { auto* v = new Colour; v->setValue(Colour::blue); return v; }},
        {"cause_invalid_slot", [] { return new ErrorCause(ErrorCause::invalidSlot); }},
        {"octets_3", [] { return new OCTET_STRING(std::vector<char>{1, 2, 3}); }},
        {"octets_200", [] { return new OCTET_STRING(200, 0x5A); }},
        {"bits_3", [] { auto* v = new BIT_STRING; setBits(*v, "101"); return v; }},
        {"bits_20", [] { auto* v = new BIT_STRING; setBits(*v, "11110000000011111010"); return v; }},
        {"flags", [] { auto* v = new BIT_STRING(&FlagsInfo); setBits(*v, "100000000001"); return v; }},
        {"text_hello", text<IA5String>("hello")},
        {"digits", [] { return new NumericString("12 3", &DigitsInfo); }},
        {"printable", text<PrintableString>("Ab")},
        {"bmp", [] { return new BMPString(L"ab"); }},
        {"oid_840", [] { return new OBJECT_IDENTIFIER{1, 2, 840}; }},
        {"oid_100", [] { return new OBJECT_IDENTIFIER{2, 100, 3}; }},
        {"time", [] { return new GeneralizedTime("20240215184100.500Z"); }},
        {"alternatives_none", alternative([](Alternatives& v) { v.select<Null>(Alternatives::none); })},
        {"alternatives_number", alternative([](Alternatives& v) { v.select<INTEGER>(Alternatives::number).setValue(7); })},
        {"alternatives_text", alternative([](Alternatives& v) { v.select<IA5String>(Alternatives::text) = "x"; })},
        {"alternatives_later", alternative([](Alternatives& v) { v.select<BOOLEAN>(Alternatives::later) = true; })},
        {"alternatives_item", alternative([](Alternatives& v) { v.select<Item>(Alternatives::item).field<INTEGER>(Item::id).setValue(3); })},
        {"items_empty", [] { return new ItemList; }},
        {"items_two", [] {
             auto* v = new ItemList;
             std::unique_ptr<Item> one(newItem(1)), two(newItem(2, "two"));
             v->push_back(*one);
             v->push_back(*two);
             return v;
         }},
        {"item_weight", [weight] { return newItem(9, nullptr, &weight); }},
        {"bounded_1", [] { auto* v = new SEQUENCE_OF<Octet>(&BoundedInfo); v->append().setValue(9u); return v; }},
        {"bounded_4", [] {
             auto* v = new SEQUENCE_OF<Octet>(&BoundedInfo);
             for (unsigned i = 1; i <= 4; ++i) v->append().setValue(i);
             return v;
         }},
    };
}

struct Vector {
    std::string name;
    std::string hex;
};

std::vector<Vector> readVectors() {
    std::vector<Vector> vectors;
    std::ifstream file(ASN1_VECTORS_FILE);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        Vector v;
        if (fields >> v.name >> v.hex) vectors.push_back(v);
    }
    return vectors;
}

TEST(PerVectors, EveryValueEncodesAndDecodesExactlyAsTheIndependentEncoder) {
    const auto table = builders();
    const auto vectors = readVectors();
    ASSERT_EQ(table.size(), vectors.size()) << "vectors.hex and the builders disagree";
    for (const Vector& vector : vectors) {
        SCOPED_TRACE(vector.name);
        auto builder = table.find(vector.name);
        ASSERT_NE(builder, table.end());
        std::unique_ptr<AbstractData> value(builder->second());
        EXPECT_EQ(vector.hex, perHex(*value));

        std::unique_ptr<AbstractData> decoded(value->info()->create(value->info()));
        ASSERT_TRUE(perDecodeHex(vector.hex, *decoded));
        EXPECT_EQ(0, decoded->compare(*value));
        EXPECT_EQ(vector.hex, perHex(*decoded));
    }
}

// Every strict prefix of a complete encoding lacks bits the value needs.
TEST(PerSweeps, EveryTruncationFails) {
    const auto table = builders();
    for (const Vector& vector : readVectors()) {
        const std::vector<char> octets = fromHex(vector.hex);
        const Builder& build = table.at(vector.name);
        for (size_t length = 0; length < octets.size(); ++length) {
            std::unique_ptr<AbstractData> value(build());
            const std::vector<char> prefix(octets.begin(), octets.begin() + length);
            EXPECT_FALSE(perDecode(prefix, *value)) << vector.name << " cut to " << length;
        }
    }
}

// Corrupted encodings decode or fail, never misbehave; what decodes
// re-encodes stably.
TEST(PerSweeps, EverySingleBitFlipDecodesCleanlyOrFails) {
    const auto table = builders();
    for (const Vector& vector : readVectors()) {
        const std::vector<char> octets = fromHex(vector.hex);
        const Builder& build = table.at(vector.name);
        for (size_t bit = 0; bit < octets.size() * 8; ++bit) {
            std::vector<char> flipped = octets;
            flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (0x80 >> (bit % 8)));
            std::unique_ptr<AbstractData> value(build());
            if (perDecode(flipped, *value)) {
                EXPECT_TRUE(reencodesStably(*value)) << vector.name << " bit " << bit << ": "
                                                     << toHex(flipped);
            }
        }
    }
}

TEST(PerSweeps, BuiltValuesRoundTrip) {
    for (const auto& entry : builders()) {
        std::unique_ptr<AbstractData> value(entry.second());
        EXPECT_TRUE(reencodesStably(*value)) << entry.first;
    }
}

}  // namespace
}  // namespace Test
