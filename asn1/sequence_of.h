#pragma once
// SEQUENCE OF and SET OF values: an owned list of elements, each created from
// the element record, and the typed faces SEQUENCE_OF<T> / SET_OF<T>.

#include "asn1/abstract_data.h"

#include <iterator>
#include <vector>

namespace ASN1 {

class SEQUENCE_OF_Base : public ConstrainedObject {
public:
    using Info = SequenceOfInfo;
    typedef std::vector<AbstractData*> Container;  // owned, never null

    explicit SEQUENCE_OF_Base(const SequenceOfInfo* info) : ConstrainedObject(info) {}
    SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other);
    SEQUENCE_OF_Base& operator=(const SEQUENCE_OF_Base& other);
    ~SEQUENCE_OF_Base() override;
    void swap(SEQUENCE_OF_Base& other) { elements_.swap(other.elements_); }
    static AbstractData* create(const TypeInfo* info) {
        return createValue<SEQUENCE_OF_Base>(info);
    }

    const SequenceOfInfo* info() const {
        return static_cast<const SequenceOfInfo*>(AbstractData::info());
    }
    unsigned size() const { return static_cast<unsigned>(elements_.size()); }
    bool empty() const { return elements_.empty(); }
    AbstractData& getElement(unsigned i) { return *elements_[i]; }
    const AbstractData& getElement(unsigned i) const { return *elements_[i]; }

    void clear();
    // Deletes the elements past n, or appends fresh elements up to n.
    void resize(unsigned n);
    void erase(Container::iterator first, Container::iterator last);
    // Inserts n clones of value, or a clone of each value of a range.
    void insert(Container::iterator position, unsigned n, const AbstractData& value);
    void insert(Container::iterator position, Container::const_iterator first,
                Container::const_iterator last);
    // Appends a new element made from the element record.
    AbstractData& append();

    ASN1_VALUE_HOOKS;

    Container elements_;
};

struct EmptyConstraint {};

namespace detail {

// Random-access iterator over the elements as T.
template <class T, class Base>
class ElementIterator {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::remove_const_t<T>;
    using difference_type = std::ptrdiff_t;
    using pointer = T*;
    using reference = T&;

    ElementIterator() = default;
    explicit ElementIterator(Base it) : it_(it) {}
    T& operator*() const { return *boost::polymorphic_downcast<T*>(*it_); }
    T* operator->() const { return &**this; }
    ElementIterator& operator++() {
        ++it_;
        return *this;
    }
    ElementIterator operator++(int) { return ElementIterator(it_++); }
    ElementIterator& operator--() {
        --it_;
        return *this;
    }
    ElementIterator operator+(difference_type n) const { return ElementIterator(it_ + n); }
    difference_type operator-(const ElementIterator& other) const { return it_ - other.it_; }
    bool operator==(const ElementIterator& other) const { return it_ == other.it_; }
    bool operator!=(const ElementIterator& other) const { return it_ != other.it_; }
    Base base() const { return it_; }

private:
    Base it_{};
};

}  // namespace detail

template <class T, class Constraint = EmptyConstraint, unsigned Tag = tags::SEQUENCE>
class SequenceOfTemplate : public SEQUENCE_OF_Base {
public:
    static constexpr SequenceOfInfo theInfo = {
        {{&createValue<SequenceOfTemplate>, Tag}, Unconstrained, 0, 0xFFFFFFFFu}, &T::theInfo};

    typedef detail::ElementIterator<T, Container::iterator> iterator;
    typedef detail::ElementIterator<const T, Container::const_iterator> const_iterator;

    explicit SequenceOfTemplate(const SequenceOfInfo* info = &theInfo) : SEQUENCE_OF_Base(info) {}

    void push_back(const T& value) {
        std::unique_ptr<AbstractData> copy(value.clone());
        elements_.push_back(copy.get());
        copy.release();
    }
    T& operator[](unsigned i) { return *boost::polymorphic_downcast<T*>(elements_[i]); }
    const T& operator[](unsigned i) const {
        return *boost::polymorphic_downcast<const T*>(elements_[i]);
    }
    T& append() { return *boost::polymorphic_downcast<T*>(&SEQUENCE_OF_Base::append()); }
    iterator begin() { return iterator(elements_.begin()); }
    iterator end() { return iterator(elements_.end()); }
    const_iterator begin() const { return const_iterator(elements_.begin()); }
    const_iterator end() const { return const_iterator(elements_.end()); }
    iterator erase(iterator position) {
        const auto offset = position.base() - elements_.begin();
        SEQUENCE_OF_Base::erase(position.base(), position.base() + 1);
        return iterator(elements_.begin() + offset);
    }
};

template <class T, class Constraint = EmptyConstraint>
using SEQUENCE_OF = SequenceOfTemplate<T, Constraint, tags::SEQUENCE>;
template <class T, class Constraint = EmptyConstraint>
using SET_OF = SequenceOfTemplate<T, Constraint, tags::SET>;

}  // namespace ASN1
