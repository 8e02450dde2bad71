#include "asn1/choice.h"

#include "asn1/visitor.h"

#include <utility>

namespace ASN1 {

CHOICE::CHOICE(const ChoiceInfo* info, int selection, AbstractData* alternative)
    : AbstractData(info), alternative_(alternative), selection_(selection) {}

CHOICE::CHOICE(const CHOICE& other)
    : AbstractData(other),
      alternative_(other.alternative_ ? other.alternative_->clone() : nullptr),
      selection_(other.selection_) {}

CHOICE& CHOICE::operator=(const CHOICE& other) {
    CHOICE copy(other);
    swap(copy);
    return *this;
}

CHOICE::~CHOICE() { delete alternative_; }

void CHOICE::swap(CHOICE& other) {
    std::swap(alternative_, other.alternative_);
    std::swap(selection_, other.selection_);
}

AbstractData* CHOICE::setSelection(int index, AbstractData* alternative) {
    if (alternative != alternative_) delete alternative_;
    alternative_ = alternative;
    selection_ = index;
    return alternative_;
}

bool CHOICE::createSelection() {
    const TypeInfo* alternativeInfo = nullptr;
    if (selection_ >= 0 && static_cast<unsigned>(selection_) < info()->totalChoices) {
        alternativeInfo = info()->selectionInfos[selection_];
    }
    if (!alternativeInfo) {
        setSelection(UNKNOWN_SELECTION, nullptr);
        return false;
    }
    setSelection(selection_, alternativeInfo->create(alternativeInfo));
    return true;
}

bool CHOICE::setID(unsigned tagNumber, unsigned tagClass) {
    const unsigned contextSpecific = 0x80;
    if (tagClass != contextSpecific || tagNumber >= info()->totalChoices) {
        setSelection(UNKNOWN_SELECTION, nullptr);
        return false;
    }
    const int index = static_cast<int>(tagNumber);
    if (selection_ == index && alternative_) return true;
    setSelection(index, nullptr);
    return createSelection();
}

int CHOICE::do_compare(const AbstractData& other) const {
    const auto& that = *boost::polymorphic_downcast<const CHOICE*>(&other);
    if (selection_ == that.selection_ && selection_ >= 0) {
        if (!alternative_ || !that.alternative_) {
            return int(alternative_ != nullptr) - int(that.alternative_ != nullptr);
        }
        return alternative_->compare(*that.alternative_);
    }
    return compareValues(selection_, that.selection_);
}

ASN1_DEFINE_CLONE_AND_VISITS(CHOICE)

}  // namespace ASN1
