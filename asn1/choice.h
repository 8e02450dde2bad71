#pragma once
// CHOICE values: a selection index and the alternative it owns.

#include "asn1/abstract_data.h"

#include <cassert>

namespace ASN1 {

class CHOICE : public AbstractData {
public:
    using Info = ChoiceInfo;
    enum { NOT_SELECTED = -1, UNKNOWN_SELECTION = -2 };

    explicit CHOICE(const ChoiceInfo* info, int selection = NOT_SELECTED,
                    AbstractData* alternative = nullptr);
    CHOICE(const CHOICE& other);
    CHOICE& operator=(const CHOICE& other);
    ~CHOICE() override;
    void swap(CHOICE& other);
    static AbstractData* create(const TypeInfo* info) { return createValue<CHOICE>(info); }

    const ChoiceInfo* info() const { return static_cast<const ChoiceInfo*>(AbstractData::info()); }
    bool extendable() const { return info()->extendable; }
    unsigned numChoices() const { return info()->numChoices; }
    unsigned totalChoices() const { return info()->totalChoices; }

    int currentSelection() const { return selection_; }
    AbstractData* getSelection() { return alternative_; }
    const AbstractData* getSelection() const { return alternative_; }
    // Takes `alternative` (may be null) as the alternative of index.
    AbstractData* setSelection(int index, AbstractData* alternative);
    // Creates the alternative of the current index from its record; an index
    // the record does not know becomes UNKNOWN_SELECTION and gives false.
    bool createSelection();
    // Selects the alternative that a decoder found under a tag: with
    // automatic tags, the context-specific tag number is the index. The
    // alternative is kept when it is already selected; anything the record
    // does not know becomes UNKNOWN_SELECTION and gives false.
    bool setID(unsigned tagNumber, unsigned tagClass);
    // Selects index with a fresh alternative (kept when index is already
    // selected) and returns it typed.
    template <class T>
    T& select(int index) {
        if (selection_ != index || !alternative_) {
            setSelection(index, nullptr);
            createSelection();
        }
        return alternative<T>();
    }
    // Typed access to the current alternative, which must exist.
    template <class T>
    T& alternative() {
        assert(alternative_);
        return *boost::polymorphic_downcast<T*>(alternative_);
    }
    template <class T>
    const T& alternative() const {
        assert(alternative_);
        return *boost::polymorphic_downcast<const T*>(alternative_);
    }

    ASN1_VALUE_HOOKS;

private:
    AbstractData* alternative_;  // owned
    int selection_;
};

}  // namespace ASN1
