#pragma once
// A small message module written the way the generator writes one: records,
// name tables and thin classes. `Envelope` mirrors the control protocol's
// message envelope; `Everything` holds every construct the coder knows and is
// what the known-answer vectors, the fuzzer and the benchmark use.
//
// The same types in ASN.1 are in tests/asn1/vectors/vectors.asn.

#include "asn1/asn1.h"

#include <functional>
#include <optional>

namespace Test {

class ErrorCause : public ASN1::ENUMERATED {
public:
    enum NamedNumber {
        invalidParams, insufficientResources, invalidSlot, slotNotExists, unexpectedMsgType,
        internal, unsupported, reconnectionFail, disconnectFail, connectFail, busError,
        slotIdBusy, destroyInProgress
    };
    static const ASN1::EnumeratedInfo theInfo;
    explicit ErrorCause(const Info* info = &theInfo) : ENUMERATED(info) {}
    ErrorCause(NamedNumber value) : ENUMERATED(&theInfo, value) {}  // NOLINT
};

class Colour : public ASN1::ENUMERATED {
public:
    enum NamedNumber { red, green, blue };
    static const ASN1::EnumeratedInfo theInfo;
    explicit Colour(const Info* info = &theInfo) : ENUMERATED(info) {}
};

// Sparse explicit values: be(0), af11(10), ef(46).
class Dscp : public ASN1::ENUMERATED {
public:
    enum NamedNumber { be = 0, af11 = 10, ef = 46 };
    static const ASN1::EnumeratedInfo theInfo;
    explicit Dscp(const Info* info = &theInfo) : ENUMERATED(info) {}
};

class Command : public ASN1::CHOICE {
public:
    enum Choice { query, connect = 2, userData = 8, ping = 12 };
    static const ASN1::ChoiceInfo theInfo;
    explicit Command(const Info* info = &theInfo) : CHOICE(info) {}
};

class Response : public ASN1::CHOICE {
public:
    enum Choice { success, error };
    static const ASN1::ChoiceInfo theInfo;
    explicit Response(const Info* info = &theInfo) : CHOICE(info) {}
};

class Signal : public ASN1::CHOICE {
public:
    enum Choice { number, abort };
    static const ASN1::ChoiceInfo theInfo;
    explicit Signal(const Info* info = &theInfo) : CHOICE(info) {}
};

class PDU : public ASN1::CHOICE {
public:
    enum Choice { command, response, signal };
    static const ASN1::ChoiceInfo theInfo;
    explicit PDU(const Info* info = &theInfo) : CHOICE(info) {}
    PDU(int selection, ASN1::AbstractData* alternative)
        : CHOICE(&theInfo, selection, alternative) {}
};

class Envelope : public ASN1::SEQUENCE {
public:
    enum Field { seq, slot, pdu };
    enum OptionalId { seq_id, slot_id };
    static const ASN1::SequenceInfo theInfo;
    explicit Envelope(const Info* info = &theInfo) : SEQUENCE(info) {}
};

typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> SlotNumber;

class Item : public ASN1::SEQUENCE {
public:
    enum Field { id, label, weight };  // weight: an extension addition
    enum OptionalId { label_id, weight_id };
    static const ASN1::SequenceInfo theInfo;
    explicit Item(const Info* info = &theInfo) : SEQUENCE(info) {}
};

class Alternatives : public ASN1::CHOICE {
public:
    enum Choice { none, number, text, later, item };  // later, item: additions
    static const ASN1::ChoiceInfo theInfo;
    explicit Alternatives(const Info* info = &theInfo) : CHOICE(info) {}
};

typedef ASN1::SEQUENCE_OF<Item> ItemList;

class Everything : public ASN1::SEQUENCE {
public:
    enum Field {
        flag, nothing, small, byte, slot, word, range3, big, semi, ext, colour, cause, dscp,
        octets, pair, shortOctets, bits, flags, text, name, digits, code, printable, bmp, oid,
        time, choice, list, bounded, added, more
    };
    enum OptionalId { dscp_id, added_id, more_id };
    static const ASN1::SequenceInfo theInfo;
    explicit Everything(const Info* info = &theInfo) : SEQUENCE(info) {}
};

// Open types, which the vectors' encoder does not take as plain fields.
class Carrier : public ASN1::SEQUENCE {
public:
    enum Field { open, item };
    static const ASN1::SequenceInfo theInfo;
    explicit Carrier(const Info* info = &theInfo) : SEQUENCE(info) {}
};

// A recursive type, for the decoders' nesting limit:
// Tree ::= CHOICE { leaf INTEGER, node SEQUENCE OF Tree }
class Tree : public ASN1::CHOICE {
public:
    enum Choice { leaf, node };
    static const ASN1::ChoiceInfo theInfo;
    explicit Tree(const Info* info = &theInfo) : CHOICE(info) {}
};
typedef ASN1::SEQUENCE_OF<Tree> Forest;

// Records of constrained built-ins that have no shared record.
extern const ASN1::ConstrainedInfo PairInfo;         // OCTET STRING (SIZE(2))
extern const ASN1::ConstrainedInfo ShortOctetsInfo;  // OCTET STRING (SIZE(0..10))
extern const ASN1::ConstrainedInfo FlagsInfo;        // BIT STRING (SIZE(12))
extern const ASN1::StringInfo NameInfo;              // IA5String (SIZE(1..64))
extern const ASN1::StringInfo DigitsInfo;            // NumericString (SIZE(1..8))
extern const ASN1::StringInfo CodeInfo;  // IA5String (FROM("0".."9")) (SIZE(1..3))
extern const ASN1::SequenceOfInfo BoundedInfo;  // SEQUENCE (SIZE(1..4)) OF INTEGER (0..255)

// A filled Everything with every optional field and addition present.
void fillEverything(Everything& value);

// An envelope with seq and slot where they are given, whose pdu `fill` sets.
Envelope makeEnvelope(std::optional<int> seq, std::optional<unsigned> slot,
                      const std::function<void(PDU&)>& fill);
// The same with the command ping.
Envelope pingEnvelope(std::optional<int> seq = std::nullopt,
                      std::optional<unsigned> slot = std::nullopt);

}  // namespace Test
