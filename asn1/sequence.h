#pragma once
// SEQUENCE values: the fields in record order (root fields, then the known
// extension additions), with presence bits for the optional root fields and
// for the additions.

#include "asn1/abstract_data.h"

#include <cassert>
#include <vector>

namespace ASN1 {

class SEQUENCE : public AbstractData {
public:
    using Info = SequenceInfo;

    // A bit map stored most significant bit first: bit i is byte i / 8 under
    // the mask 0x80 >> (i % 8). Bits at or past the count read 0 and cannot
    // be set.
    class BitMap {
    public:
        unsigned size() const { return count_; }
        bool operator[](unsigned bit) const;
        void set(unsigned bit);
        void clear(unsigned bit);
        void resize(unsigned count);
        bool any() const;
        const std::vector<char>& bytes() const { return bytes_; }
        std::vector<char>& bytes() { return bytes_; }
        bool operator==(const BitMap& other) const;

    private:
        unsigned count_ = 0;
        std::vector<char> bytes_;
    };

    explicit SEQUENCE(const SequenceInfo* info);
    SEQUENCE(const SEQUENCE& other);
    SEQUENCE& operator=(const SEQUENCE& other);
    ~SEQUENCE() override;
    void swap(SEQUENCE& other);
    static AbstractData* create(const TypeInfo* info) { return createValue<SEQUENCE>(info); }

    const SequenceInfo* info() const {
        return static_cast<const SequenceInfo*>(AbstractData::info());
    }
    bool extendable() const { return info()->extendable; }
    unsigned numRootFields() const { return info()->numFields; }
    unsigned knownExtensionCount() const { return info()->knownExtensions; }
    unsigned numOptional() const { return info()->numOptional; }
    // Root fields and known additions.
    unsigned fieldCount() const { return static_cast<unsigned>(fields_.size()); }
    int fieldId(unsigned index) const;

    // Optional ids: root optional fields 0..numOptional-1, addition k
    // numOptional + k.
    bool hasOptionalField(unsigned id) const;
    // Sets the presence bit and creates the field at `index` when it does not
    // exist yet; a field that exists keeps its value.
    void includeOptionalField(unsigned id, unsigned index);
    // Clears the presence bit only: a later include brings the value back.
    void removeOptionalField(unsigned id);

    // The field object at index (root fields, then additions), or null.
    AbstractData* getField(unsigned index) { return fields_[index]; }
    const AbstractData* getField(unsigned index) const { return fields_[index]; }
    // Typed access to a field that exists (mandatory, or included).
    template <class T>
    T& field(unsigned index) {
        assert(fields_[index]);
        return *boost::polymorphic_downcast<T*>(fields_[index]);
    }
    template <class T>
    const T& field(unsigned index) const {
        assert(fields_[index]);
        return *boost::polymorphic_downcast<const T*>(fields_[index]);
    }
    // Creates the field at index from its record when it does not exist yet.
    AbstractData* createField(unsigned index);

    const BitMap& optionalMap() const { return optionalMap_; }
    const BitMap& extensionMap() const { return extensionMap_; }
    BitMap& optionalMap() { return optionalMap_; }
    BitMap& extensionMap() { return extensionMap_; }

    ASN1_VALUE_HOOKS;

private:
    int comparePresence(const SEQUENCE& other, unsigned index, int id) const;

    std::vector<AbstractData*> fields_;  // owned; absent fields may be null
    BitMap optionalMap_;
    BitMap extensionMap_;
};

}  // namespace ASN1
