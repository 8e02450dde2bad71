#pragma once
// The coder environment names the encoding rules of a link and carries the
// table of ASN.1 modules known to the decoders; ASN1::encode and ASN1::decode
// are the one way the rest of the system turns a value into octets and back:
//
//   ASN1::CoderEnv env(ASN1::CoderEnv::AlignedPER);
//   std::vector<char> octets;
//   if (!ASN1::encode(message, &env, std::back_inserter(octets))) ...
//   if (!ASN1::decode(first, last, &env, message, true)) ...

#include "asn1/abstract_data.h"

#include <loki/AssocVector.h>

#include <iterator>
#include <string>
#include <vector>

namespace ASN1 {

// One ASN.1 module as a decoder may look it up: the records of its types by
// name.
struct ModuleInfo {
    struct Type {
        const char* name;
        const TypeInfo* info;
    };
    const char* name;
    const Type* types;
    unsigned typeCount;
};

class CoderEnv {
public:
    enum EncodingRule { ValueNotation = 0, BER = 1, AlignedPER = 2 };
    typedef Loki::AssocVector<std::string, const ModuleInfo*> ModuleTable;
    typedef std::back_insert_iterator<std::vector<char>> Output;

    explicit CoderEnv(int rule = AlignedPER) : encodingRule_(rule) {}

    int get_encodingRule() const { return encodingRule_; }
    void set_encodingRule(int rule) { encodingRule_ = rule; }
    ModuleTable& modules() { return modules_; }
    const ModuleTable& modules() const { return modules_; }

    // Append the encoding of value by the rule; nothing on failure.
    bool encode(const AbstractData& value, Output out);
    bool encodeBER(const AbstractData& value, Output out);
    bool encodeAVN(const AbstractData& value, Output out);
    // Fills value from [first, last) by the rule; `withoutEnv` keeps the
    // environment from the decoder. On failure the value is partly filled.
    bool decode(const char* first, const char* last, AbstractData& value, bool withoutEnv);

private:
    int encodingRule_;
    ModuleTable modules_;
};

bool encode(const AbstractData& value, CoderEnv* env, CoderEnv::Output out);
bool decode(const char* first, const char* last, CoderEnv* env, AbstractData& value,
            bool withoutEnv = false);

}  // namespace ASN1
