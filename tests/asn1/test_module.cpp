#include "tests/asn1/test_module.h"

namespace Test {

using namespace ASN1;

typedef Constrained_INTEGER<FixedConstraint, 0, 255> Octet;

// ENUMERATED

static const NameEntry ErrorCause_enum_names__[] = {
    {0, "invalidParams"},  {1, "insufficientResources"}, {2, "invalidSlot"},
    {3, "slotNotExists"},  {4, "unexpectedMsgType"},     {5, "internal"},
    {6, "unsupported"},    {7, "reconnectionFail"},      {8, "disconnectFail"},
    {9, "connectFail"},    {10, "busError"},             {11, "slotIdBusy"},
    {12, "destroyInProgress"}};
const EnumeratedInfo ErrorCause::theInfo = {
    {&createValue<ErrorCause>, tags::ENUMERATED}, true, 12, ErrorCause_enum_names__, 13};

static const NameEntry Colour_enum_names__[] = {{0, "red"}, {1, "green"}, {2, "blue"}};
const EnumeratedInfo Colour::theInfo = {
    {&createValue<Colour>, tags::ENUMERATED}, false, 2, Colour_enum_names__, 3};

static const NameEntry Dscp_enum_names__[] = {
    {0, "be"}, {10, "af11"}, {46, "ef"}};
const EnumeratedInfo Dscp::theInfo = {
    {&createValue<Dscp>, tags::ENUMERATED}, false, 46, Dscp_enum_names__, 3};

// The envelope

static const TypeInfo* const Command_selectionInfos[] = {
    &Null::theInfo, &Null::theInfo, &SlotNumber::theInfo, &Null::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo,       &OCTET_STRING::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo,       &Null::theInfo,
    &Null::theInfo, &Null::theInfo};
static const char* const Command_selectionNames[] = {
    "query",    "testBpc", "connect",  "disconnect", "create",   "destroy", "activate",
    "deactivate", "userData", "ioctl", "trunkCfg",   "clockCfg", "ping",    "display",
    "protoVark"};
const ChoiceInfo Command::theInfo = {
    {&createValue<Command>, tags::NONE}, true, Command_selectionInfos, 15, 15,
    Command_selectionNames};

static const TypeInfo* const Response_selectionInfos[] = {&Null::theInfo, &ErrorCause::theInfo};
static const char* const Response_selectionNames[] = {"success", "error"};
const ChoiceInfo Response::theInfo = {
    {&createValue<Response>, tags::NONE}, false, Response_selectionInfos, 2, 2,
    Response_selectionNames};

static const TypeInfo* const Signal_selectionInfos[] = {&IA5String::theInfo, &INTEGER::theInfo};
static const char* const Signal_selectionNames[] = {"number", "abort"};
const ChoiceInfo Signal::theInfo = {
    {&createValue<Signal>, tags::NONE}, true, Signal_selectionInfos, 2, 2,
    Signal_selectionNames};

static const TypeInfo* const PDU_selectionInfos[] = {&Command::theInfo, &Response::theInfo,
                                                     &Signal::theInfo};
static const char* const PDU_selectionNames[] = {"command", "response", "signal"};
const ChoiceInfo PDU::theInfo = {
    {&createValue<PDU>, tags::NONE}, false, PDU_selectionInfos, 3, 3, PDU_selectionNames};

static const TypeInfo* const Envelope_fieldInfos[] = {&INTEGER::theInfo, &SlotNumber::theInfo,
                                                      &PDU::theInfo};
static const int Envelope_fieldIds[] = {0, 1, -1};
static const char* const Envelope_fieldNames[] = {"seq", "slot", "pdu"};
const SequenceInfo Envelope::theInfo = {
    {&createValue<Envelope>, tags::SEQUENCE}, false, Envelope_fieldInfos, Envelope_fieldIds,
    3, 0, 2, Envelope_fieldNames};

// Everything

const ConstrainedInfo PairInfo = {
    {&createValue<OCTET_STRING>, tags::OCTET_STRING}, FixedConstraint, 2, 2};
const ConstrainedInfo ShortOctetsInfo = {
    {&createValue<OCTET_STRING>, tags::OCTET_STRING}, FixedConstraint, 0, 10};
const ConstrainedInfo FlagsInfo = {
    {&createValue<BIT_STRING>, tags::BIT_STRING}, FixedConstraint, 12, 12};
const StringInfo NameInfo = {
    {{&createValue<IA5String>, tags::IA5String}, FixedConstraint, 1, 64},
    IA5StringSet, 128, 7, 7, 8};
const StringInfo DigitsInfo = {
    {{&createValue<NumericString>, tags::NumericString}, FixedConstraint, 1, 8},
    NumericStringSet, 11, 4, 4, 4};
static const char CodeSet[] = "0123456789";
const StringInfo CodeInfo = {
    {{&createValue<IA5String>, tags::IA5String}, FixedConstraint, 1, 3}, CodeSet, 10, 6, 4, 4};
const SequenceOfInfo BoundedInfo = {
    {{&createValue<SEQUENCE_OF<Octet>>, tags::SEQUENCE}, FixedConstraint, 1, 4}, &Octet::theInfo};

static const TypeInfo* const Item_fieldInfos[] = {
    &Constrained_INTEGER<FixedConstraint, 0, 65535>::theInfo, &IA5String::theInfo,
    &INTEGER::theInfo};
static const int Item_fieldIds[] = {-1, 0};
static const char* const Item_fieldNames[] = {"id", "label", "weight"};
const SequenceInfo Item::theInfo = {
    {&createValue<Item>, tags::SEQUENCE}, true, Item_fieldInfos, Item_fieldIds, 2, 1, 1,
    Item_fieldNames};

static const TypeInfo* const Alternatives_selectionInfos[] = {
    &Null::theInfo, &INTEGER::theInfo, &IA5String::theInfo, &BOOLEAN::theInfo, &Item::theInfo};
static const char* const Alternatives_selectionNames[] = {"none", "number", "text", "later",
                                                          "item"};
const ChoiceInfo Alternatives::theInfo = {
    {&createValue<Alternatives>, tags::NONE}, true, Alternatives_selectionInfos, 3, 5,
    Alternatives_selectionNames};

static const TypeInfo* const Everything_fieldInfos[] = {
    &BOOLEAN::theInfo,
    &Null::theInfo,
    &Constrained_INTEGER<FixedConstraint, 0, 7>::theInfo,
    &Constrained_INTEGER<FixedConstraint, -128, 127>::theInfo,
    &SlotNumber::theInfo,
    &Constrained_INTEGER<FixedConstraint, 0, 4294967295u>::theInfo,
    &Constrained_INTEGER<FixedConstraint, 112000, 399975>::theInfo,
    &INTEGER::theInfo,
    &Constrained_INTEGER<PartiallyConstrained, -5, 0xFFFFFFFFu>::theInfo,
    &Constrained_INTEGER<ExtendableConstraint, 0, 10>::theInfo,
    &Colour::theInfo,
    &ErrorCause::theInfo,
    &Dscp::theInfo,
    &OCTET_STRING::theInfo,
    &PairInfo,
    &ShortOctetsInfo,
    &BIT_STRING::theInfo,
    &FlagsInfo,
    &IA5String::theInfo,
    &NameInfo,
    &DigitsInfo,
    &CodeInfo,
    &PrintableString::theInfo,
    &BMPString::theInfo,
    &OBJECT_IDENTIFIER::theInfo,
    &GeneralizedTime::theInfo,
    &Alternatives::theInfo,
    &ItemList::theInfo,
    &BoundedInfo,
    &INTEGER::theInfo,
    &Item::theInfo};
static const int Everything_fieldIds[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1,
                                          -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          -1};
static const char* const Everything_fieldNames[] = {
    "flag",  "nothing",   "small",    "byte",   "slot",   "word",  "range3", "big",
    "semi",  "ext",       "colour",   "cause",  "dscp",   "octets", "pair",  "shortOctets",
    "bits",  "flags",     "text",     "name",   "digits", "code",  "printable", "bmp",
    "oid",   "time",      "choice",   "list",   "bounded", "added", "more"};
const SequenceInfo Everything::theInfo = {
    {&createValue<Everything>, tags::SEQUENCE}, true, Everything_fieldInfos,
    Everything_fieldIds, 29, 2, 1, Everything_fieldNames};

static const TypeConstrainedOpenDataInfo ItemOpenInfo = {{&createValue<TypeConstrainedOpenData>,
                                                          tags::NONE},
                                                         &Item::theInfo};
static const TypeInfo* const Carrier_fieldInfos[] = {&OpenData::theInfo, &ItemOpenInfo};
static const int Carrier_fieldIds[] = {-1, -1};
static const char* const Carrier_fieldNames[] = {"open", "item"};
const SequenceInfo Carrier::theInfo = {
    {&createValue<Carrier>, tags::SEQUENCE}, false, Carrier_fieldInfos, Carrier_fieldIds, 2, 0,
    0, Carrier_fieldNames};

static const TypeInfo* const Tree_selectionInfos[] = {&INTEGER::theInfo, &Forest::theInfo};
static const char* const Tree_selectionNames[] = {"leaf", "node"};
const ChoiceInfo Tree::theInfo = {
    {&createValue<Tree>, tags::NONE}, false, Tree_selectionInfos, 2, 2, Tree_selectionNames};

void fillEverything(Everything& value) {
    value.field<BOOLEAN>(Everything::flag) = true;
    value.field<INTEGER>(Everything::small).setValue(5);
    value.field<INTEGER>(Everything::byte).setValue(-5);
    value.field<INTEGER>(Everything::slot).setValue(1000);
    value.field<INTEGER>(Everything::word).setValue(70000u);
    value.field<INTEGER>(Everything::range3).setValue(300000);
    value.field<INTEGER>(Everything::big).setValue(-129);
    value.field<INTEGER>(Everything::semi).setValue(300);
    value.field<INTEGER>(Everything::ext).setValue(11);
    value.field<Colour>(Everything::colour).setValue(Colour::blue);
    value.field<ErrorCause>(Everything::cause).setValue(ErrorCause::invalidSlot);
    value.includeOptionalField(Everything::dscp_id, Everything::dscp);
    value.field<Dscp>(Everything::dscp).setValue(Dscp::ef);
    value.field<OCTET_STRING>(Everything::octets).assign({1, 2, 3});
    value.field<OCTET_STRING>(Everything::pair).assign({'\xAB', '\xCD'});
    value.field<OCTET_STRING>(Everything::shortOctets).assign({7});
    BIT_STRING& bits = value.field<BIT_STRING>(Everything::bits);
    bits.resize(3);
    bits.set(0);
    bits.set(2);
    BIT_STRING& flags = value.field<BIT_STRING>(Everything::flags);
    flags.resize(12);
    flags.set(11);
    value.field<IA5String>(Everything::text) = "hello";
    value.field<IA5String>(Everything::name) = "gw";
    value.field<NumericString>(Everything::digits) = "12 3";
    value.field<IA5String>(Everything::code) = "42";
    value.field<PrintableString>(Everything::printable) = "Ab";
    value.field<BMPString>(Everything::bmp) = L"ab";
    value.field<OBJECT_IDENTIFIER>(Everything::oid).arcs() = {1, 2, 840};
    value.field<GeneralizedTime>(Everything::time).set("20240215184100.5Z");
    value.field<Alternatives>(Everything::choice).select<INTEGER>(Alternatives::number).setValue(7);
    ItemList& list = value.field<ItemList>(Everything::list);
    Item& first = list.append();
    first.field<INTEGER>(Item::id).setValue(1);
    Item& second = list.append();
    second.field<INTEGER>(Item::id).setValue(2);
    second.includeOptionalField(Item::label_id, Item::label);
    second.field<IA5String>(Item::label) = "two";
    auto& bounded = value.field<SEQUENCE_OF<Octet>>(Everything::bounded);
    bounded.append().setValue(9u);
    value.includeOptionalField(Everything::added_id, Everything::added);
    value.field<INTEGER>(Everything::added).setValue(5);
    value.includeOptionalField(Everything::more_id, Everything::more);
    value.field<Item>(Everything::more).field<INTEGER>(Item::id).setValue(3);
}

Envelope makeEnvelope(std::optional<int> seq, std::optional<unsigned> slot,
                      const std::function<void(PDU&)>& fill) {
    Envelope message;
    if (seq) {
        message.includeOptionalField(Envelope::seq_id, Envelope::seq);
        message.field<INTEGER>(Envelope::seq).setValue(*seq);
    }
    if (slot) {
        message.includeOptionalField(Envelope::slot_id, Envelope::slot);
        message.field<SlotNumber>(Envelope::slot) = *slot;
    }
    fill(message.field<PDU>(Envelope::pdu));
    return message;
}

Envelope pingEnvelope(std::optional<int> seq, std::optional<unsigned> slot) {
    return makeEnvelope(seq, slot, [](PDU& pdu) {
        pdu.select<Command>(PDU::command).select<Null>(Command::ping);
    });
}

}  // namespace Test
