#pragma once
// OBJECT IDENTIFIER values and their contents octets (shared by the BER and
// PER coders).

#include "asn1/abstract_data.h"

#include <initializer_list>
#include <vector>

namespace ASN1 {

class OBJECT_IDENTIFIER : public AbstractData {
public:
    static const TypeInfo theInfo;

    explicit OBJECT_IDENTIFIER(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    OBJECT_IDENTIFIER(std::initializer_list<unsigned> arcs, const TypeInfo* info = &theInfo)
        : AbstractData(info), arcs_(arcs) {}
    OBJECT_IDENTIFIER(const OBJECT_IDENTIFIER&) = default;
    OBJECT_IDENTIFIER& operator=(const OBJECT_IDENTIFIER&) = default;
    static AbstractData* create(const TypeInfo* info) {
        return createValue<OBJECT_IDENTIFIER>(info);
    }

    const std::vector<unsigned>& arcs() const { return arcs_; }
    std::vector<unsigned>& arcs() { return arcs_; }

    // Reads the arcs from contents octets; false on data that ends inside a
    // subidentifier or an arc that does not fit 32 bits.
    bool decodeCommon(const char* data, unsigned length);
    // Writes the contents octets at the start of `out` (nothing for fewer
    // than two arcs).
    void encodeCommon(std::vector<char>& out) const;

    ASN1_VALUE_HOOKS;

private:
    std::vector<unsigned> arcs_;
};

}  // namespace ASN1
