#include "asn1/sequence_of.h"

#include "asn1/visitor.h"

#include <algorithm>

namespace ASN1 {

namespace {

// Clones the range into fresh storage; nothing leaks when a clone throws.
SEQUENCE_OF_Base::Container cloneAll(SEQUENCE_OF_Base::Container::const_iterator first,
                                     SEQUENCE_OF_Base::Container::const_iterator last) {
    SEQUENCE_OF_Base::Container copies;
    copies.reserve(static_cast<size_t>(last - first));
    try {
        for (; first != last; ++first) copies.push_back((*first)->clone());
    } catch (...) {
        for (AbstractData* copy : copies) delete copy;
        throw;
    }
    return copies;
}

}  // namespace

SEQUENCE_OF_Base::SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other)
    : ConstrainedObject(other),
      elements_(cloneAll(other.elements_.begin(), other.elements_.end())) {}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(const SEQUENCE_OF_Base& other) {
    SEQUENCE_OF_Base copy(other);
    swap(copy);
    return *this;
}

SEQUENCE_OF_Base::~SEQUENCE_OF_Base() { clear(); }

void SEQUENCE_OF_Base::clear() { erase(elements_.begin(), elements_.end()); }

void SEQUENCE_OF_Base::resize(unsigned n) {
    if (n < elements_.size()) {
        erase(elements_.begin() + n, elements_.end());
        return;
    }
    elements_.reserve(n);
    while (elements_.size() < n) append();
}

void SEQUENCE_OF_Base::erase(Container::iterator first, Container::iterator last) {
    for (auto it = first; it != last; ++it) delete *it;
    elements_.erase(first, last);
}

void SEQUENCE_OF_Base::insert(Container::iterator position, unsigned n,
                              const AbstractData& value) {
    Container clones;
    clones.reserve(n);
    try {
        for (unsigned i = 0; i < n; ++i) clones.push_back(value.clone());
        elements_.insert(position, clones.begin(), clones.end());
    } catch (...) {
        for (AbstractData* clone : clones) delete clone;
        throw;
    }
}

void SEQUENCE_OF_Base::insert(Container::iterator position, Container::const_iterator first,
                              Container::const_iterator last) {
    Container clones = cloneAll(first, last);
    try {
        elements_.insert(position, clones.begin(), clones.end());
    } catch (...) {
        for (AbstractData* clone : clones) delete clone;
        throw;
    }
}

AbstractData& SEQUENCE_OF_Base::append() {
    const TypeInfo* elementInfo = info()->elementInfo;
    std::unique_ptr<AbstractData> element(elementInfo->create(elementInfo));
    elements_.push_back(element.get());
    return *element.release();
}

int SEQUENCE_OF_Base::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const SEQUENCE_OF_Base*>(&other);
    const size_t count = std::min(elements_.size(), that.elements_.size());
    for (size_t i = 0; i < count; ++i) {
        const int result = elements_[i]->compare(*that.elements_[i]);
        if (result) return result;
    }
    return compareValues(elements_.size(), that.elements_.size());
}

ASN1_DEFINE_CLONE_AND_VISITS(SEQUENCE_OF_Base)

}  // namespace ASN1
