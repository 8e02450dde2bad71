#include "asn1/object_identifier.h"

#include "asn1/visitor.h"

#include <algorithm>
#include <cstdint>

namespace ASN1 {

const TypeInfo OBJECT_IDENTIFIER::theInfo = {&createValue<OBJECT_IDENTIFIER>,
                                             tags::OBJECT_IDENTIFIER};

bool OBJECT_IDENTIFIER::decodeCommon(const char* data, unsigned length) {
    arcs_.clear();
    // The first subidentifier holds two arcs (arc0 * 40 + arc1) and may
    // exceed 32 bits by up to 80.
    const uint64_t firstLimit = 80 + uint64_t(0xFFFFFFFFu);
    uint64_t subidentifier = 0;
    bool inside = false;
    for (unsigned i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(data[i]);
        subidentifier = (subidentifier << 7) | (byte & 0x7F);
        if (subidentifier > (arcs_.empty() ? firstLimit : uint64_t(0xFFFFFFFFu))) return false;
        inside = (byte & 0x80) != 0;
        if (inside) continue;
        if (arcs_.empty()) {
            const unsigned first = subidentifier < 40 ? 0 : (subidentifier < 80 ? 1 : 2);
            arcs_.push_back(first);
            arcs_.push_back(static_cast<unsigned>(subidentifier - 40 * first));
        } else {
            arcs_.push_back(static_cast<unsigned>(subidentifier));
        }
        subidentifier = 0;
    }
    return !inside;
}

namespace {

void appendSubidentifier(std::vector<char>& out, uint64_t value) {
    char groups[10];
    int count = 0;
    do {
        groups[count++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (count > 1) out.push_back(static_cast<char>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

}  // namespace

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const {
    if (arcs_.size() < 2) {
        out.clear();
        return;
    }
    std::vector<char> contents;
    appendSubidentifier(contents, uint64_t(arcs_[0]) * 40 + arcs_[1]);
    for (size_t i = 2; i < arcs_.size(); ++i) appendSubidentifier(contents, arcs_[i]);
    out.insert(out.begin(), contents.begin(), contents.end());
}

int OBJECT_IDENTIFIER::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const OBJECT_IDENTIFIER*>(&other);
    const size_t count = std::min(arcs_.size(), that.arcs_.size());
    for (size_t i = 0; i < count; ++i) {
        if (arcs_[i] != that.arcs_[i]) return compareValues(arcs_[i], that.arcs_[i]);
    }
    return compareValues(arcs_.size(), that.arcs_.size());
}

ASN1_DEFINE_CLONE_AND_VISITS(OBJECT_IDENTIFIER)

}  // namespace ASN1
