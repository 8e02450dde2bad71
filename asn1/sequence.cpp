#include "asn1/sequence.h"

#include "asn1/visitor.h"

#include <algorithm>

namespace ASN1 {

bool SEQUENCE::BitMap::operator[](unsigned bit) const {
    if (bit >= count_) return false;
    return (bytes_[bit / 8] & (0x80 >> (bit % 8))) != 0;
}

void SEQUENCE::BitMap::set(unsigned bit) {
    if (bit < count_) bytes_[bit / 8] |= static_cast<char>(0x80 >> (bit % 8));
}

void SEQUENCE::BitMap::clear(unsigned bit) {
    if (bit < count_) bytes_[bit / 8] &= static_cast<char>(~(0x80 >> (bit % 8)));
}

void SEQUENCE::BitMap::resize(unsigned count) {
    const unsigned oldCount = count_;
    bytes_.resize((count + 7) / 8, 0);
    count_ = count;
    // Bits dropped by a shrink must not come back set after a later grow.
    for (unsigned bit = count; bit < std::min(oldCount, unsigned(bytes_.size() * 8)); ++bit) {
        bytes_[bit / 8] &= static_cast<char>(~(0x80 >> (bit % 8)));
    }
}

bool SEQUENCE::BitMap::any() const {
    for (unsigned bit = 0; bit < count_; ++bit) {
        if ((*this)[bit]) return true;
    }
    return false;
}

bool SEQUENCE::BitMap::operator==(const BitMap& other) const {
    return count_ == other.count_ && bytes_ == other.bytes_;
}

SEQUENCE::SEQUENCE(const SequenceInfo* info)
    : AbstractData(info), fields_(info->numFields + info->knownExtensions, nullptr) {
    optionalMap_.resize(info->numOptional);
    try {
        for (unsigned i = 0; i < info->numFields; ++i) {
            if (info->fieldIds[i] < 0) createField(i);
        }
    } catch (...) {
        for (AbstractData* field : fields_) delete field;
        throw;
    }
}

SEQUENCE::SEQUENCE(const SEQUENCE& other)
    : AbstractData(other),
      fields_(other.fields_.size(), nullptr),
      optionalMap_(other.optionalMap_),
      extensionMap_(other.extensionMap_) {
    try {
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (other.fields_[i]) fields_[i] = other.fields_[i]->clone();
        }
    } catch (...) {
        for (AbstractData* field : fields_) delete field;
        throw;
    }
}

SEQUENCE& SEQUENCE::operator=(const SEQUENCE& other) {
    SEQUENCE copy(other);
    swap(copy);
    return *this;
}

SEQUENCE::~SEQUENCE() {
    for (AbstractData* field : fields_) delete field;
}

void SEQUENCE::swap(SEQUENCE& other) {
    fields_.swap(other.fields_);
    std::swap(optionalMap_, other.optionalMap_);
    std::swap(extensionMap_, other.extensionMap_);
}

int SEQUENCE::fieldId(unsigned index) const {
    if (index < info()->numFields) return info()->fieldIds[index];
    return static_cast<int>(info()->numOptional + index - info()->numFields);
}

bool SEQUENCE::hasOptionalField(unsigned id) const {
    if (id < info()->numOptional) return optionalMap_[id];
    return extensionMap_[id - info()->numOptional];
}

void SEQUENCE::includeOptionalField(unsigned id, unsigned index) {
    if (id < info()->numOptional) {
        optionalMap_.set(id);
    } else {
        const unsigned bit = id - info()->numOptional;
        if (bit >= extensionMap_.size()) extensionMap_.resize(bit + 1);
        extensionMap_.set(bit);
    }
    createField(index);
}

void SEQUENCE::removeOptionalField(unsigned id) {
    if (id < info()->numOptional) {
        optionalMap_.clear(id);
    } else {
        extensionMap_.clear(id - info()->numOptional);
    }
}

AbstractData* SEQUENCE::createField(unsigned index) {
    if (!fields_[index]) {
        const TypeInfo* fieldInfo = info()->fieldInfos[index];
        if (fieldInfo) fields_[index] = fieldInfo->create(fieldInfo);
    }
    return fields_[index];
}

// Presence decides when either side lacks an optional field; 2 means both
// have it and their values decide.
int SEQUENCE::comparePresence(const SEQUENCE& other, unsigned index, int id) const {
    if (id < 0) return 2;
    const bool mine = hasOptionalField(static_cast<unsigned>(id)) && fields_[index];
    const bool theirs = other.hasOptionalField(static_cast<unsigned>(id)) && other.fields_[index];
    if (mine && theirs) return 2;
    return int(mine) - int(theirs);
}

int SEQUENCE::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const SEQUENCE*>(&other);
    const unsigned count = std::min(fieldCount(), that.fieldCount());
    for (unsigned i = 0; i < count; ++i) {
        const int presence = comparePresence(that, i, fieldId(i));
        if (presence != 2) {
            if (presence != 0) return presence;
            continue;
        }
        if (!fields_[i] || !that.fields_[i]) {
            const int diff = int(fields_[i] != nullptr) - int(that.fields_[i] != nullptr);
            if (diff) return diff;
            continue;
        }
        const int result = fields_[i]->compare(*that.fields_[i]);
        if (result) return result;
    }
    return 0;
}

AbstractData* SEQUENCE::do_clone() const { return cloneByRecord(*this); }
bool SEQUENCE::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool SEQUENCE::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

}  // namespace ASN1
