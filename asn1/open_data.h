#pragma once
// Open types: a value carried as a complete encoding of its own. OpenData
// holds a decoded value, or the undecoded octets when the type is not known;
// TypeConstrainedOpenData always carries a value of the type its record names.

#include "asn1/abstract_data.h"

#include <vector>

namespace ASN1 {

class OpenData : public AbstractData {
public:
    static const TypeInfo theInfo;

    explicit OpenData(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    OpenData(const OpenData& other);
    OpenData& operator=(const OpenData& other);
    void swap(OpenData& other);
    static AbstractData* create(const TypeInfo* info) { return createValue<OpenData>(info); }

    bool has_data() const { return data_ != nullptr; }
    bool has_buf() const { return buf_ != nullptr; }
    AbstractData* get_data() { return data_.get(); }
    const AbstractData* get_data() const { return data_.get(); }
    const std::vector<char>* get_buf() const { return buf_.get(); }
    // Takes ownership of value (may be null).
    void grab(AbstractData* value) { data_.reset(value); }
    // The undecoded octets, created empty when there are none.
    std::vector<char>& buf();

    ASN1_VALUE_HOOKS;

private:
    std::unique_ptr<AbstractData> data_;
    std::unique_ptr<std::vector<char>> buf_;
};

class TypeConstrainedOpenData : public OpenData {
public:
    using Info = TypeConstrainedOpenDataInfo;

    explicit TypeConstrainedOpenData(const TypeConstrainedOpenDataInfo* info);
    static AbstractData* create(const TypeInfo* info) {
        return createValue<TypeConstrainedOpenData>(info);
    }
    const TypeConstrainedOpenDataInfo* info() const {
        return static_cast<const TypeConstrainedOpenDataInfo*>(AbstractData::info());
    }

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
};

}  // namespace ASN1
