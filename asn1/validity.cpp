#include "asn1/validity.h"

#include "asn1/asn1.h"

#include <ostream>

namespace ASN1 {

bool AbstractData::isValid() const {
    ValidChecker checker;
    return accept(checker);
}

bool AbstractData::isStrictlyValid() const {
    StrictlyValidChecker checker;
    return accept(checker);
}

bool trace_invalid(std::ostream& os, const char* prefix, const AbstractData& value) {
    InvalidTracer tracer;
    if (value.accept(tracer)) return true;
    os << prefix << tracer.str() << std::endl;
    return false;
}

template <class Text>
bool ConstraintChecker::fail(Text text) {
    if (explanation_) text(*explanation_);
    return false;
}

bool ConstraintChecker::checkComponent(const AbstractData& component, const std::string& label) {
    if (!explanation_) return component.accept(*this);
    std::ostringstream text;
    ConstraintChecker tracer(strict_, &text);
    if (component.accept(tracer)) return true;
    *explanation_ << label << text.str();
    return false;
}

bool ConstraintChecker::do_visit(const INTEGER& value) {
    const ConstrainedInfo& bounds = *value.info();
    const unsigned word = value.getUnsignedValue();
    if ((!strict_ && bounds.type == ExtendableConstraint) || withinBounds(bounds, word)) {
        return true;
    }
    return fail([&](std::ostream& os) {
        const bool negativeLower = bounds.lowerLimit < 0;
        const bool below = negativeLower ? value.getValue() < bounds.lowerLimit
                                         : word < static_cast<unsigned>(bounds.lowerLimit);
        os << " The INTEGER value ";
        if (negativeLower) {
            os << value.getValue();
        } else {
            os << word;
        }
        if (below) {
            os << " is smaller than lower bound " << bounds.lowerLimit;
        } else {
            os << " is greater than upper bound " << bounds.upperLimit;
        }
    });
}

bool ConstraintChecker::do_visit(const ENUMERATED& value) {
    if ((!strict_ && value.extendable()) || value.getValue() <= value.getMaximum()) return true;
    return fail([&](std::ostream& os) {
        os << " This ENUMERATED has invalid value " << value.getValue();
    });
}

bool ConstraintChecker::do_visit(const OBJECT_IDENTIFIER& value) {
    if (!value.arcs().empty()) return true;
    return fail([](std::ostream& os) { os << " This OBJECT IDENTIFIER is not assigned"; });
}

// Valid: at least the lower bound, and at most the upper one unless the
// constraint is extendable. Strictly valid: within both.
bool ConstraintChecker::checkSize(const char* what, const ConstrainedObject& value,
                                  unsigned size) {
    const unsigned lower = static_cast<unsigned>(value.lowerLimit());
    const unsigned upper = value.upperLimit();
    const bool upperApplies = strict_ || value.constraintType() != ExtendableConstraint;
    if (size >= lower && (!upperApplies || size <= upper)) return true;
    return fail([&](std::ostream& os) {
        os << " This " << what << " has size " << size;
        if (size < lower) {
            os << " smaller than its lower bound " << lower;
        } else {
            os << " greater than its upper bound " << upper;
        }
    });
}

bool ConstraintChecker::do_visit(const BIT_STRING& value) {
    return checkSize("BIT STRING", value, value.size());
}

bool ConstraintChecker::do_visit(const OCTET_STRING& value) {
    return checkSize("OCTET STRING", value, static_cast<unsigned>(value.size()));
}

bool ConstraintChecker::do_visit(const AbstractString& value) {
    if (!checkSize("AbstractString", value, static_cast<unsigned>(value.size()))) return false;
    if (value.info()->characterSetSize == 0) return true;  // every character permitted
    for (char c : value) {
        if (value.indexOf(c) >= 0) continue;
        return fail([c](std::ostream& os) {
            os << " The character '" << c << "' is not valid for the string";
        });
    }
    return true;
}

bool ConstraintChecker::do_visit(const BMPString& value) {
    if (!checkSize("BMPString", value, static_cast<unsigned>(value.size()))) return false;
    for (wchar_t c : value) {
        if (c >= value.info()->firstChar && c <= value.info()->lastChar) continue;
        return fail([c](std::ostream& os) {
            os << " The character '" << static_cast<unsigned long>(c)
               << "' is not valid for the string";
        });
    }
    return true;
}

bool ConstraintChecker::do_visit(const CHOICE& value) {
    const int selection = value.currentSelection();
    if (selection == CHOICE::NOT_SELECTED) {
        return fail([](std::ostream& os) { os << " This CHOICE is not selected"; });
    }
    const unsigned index = static_cast<unsigned>(selection);
    const bool known = selection >= 0 && index < value.totalChoices() && value.getSelection();
    const bool allowed = index < value.numChoices() || (!strict_ && value.extendable());
    if (!known || !allowed) {
        return fail([](std::ostream& os) {
            os << " This selection is not understood by this decoder";
        });
    }
    return checkComponent(*value.getSelection(),
                          std::string(".") + value.info()->selectionNames[index]);
}

bool ConstraintChecker::do_visit(const OpenData& value) {
    if (value.has_data()) return value.get_data()->accept(*this);
    if (value.has_buf()) return true;
    return fail([](std::ostream& os) { os << " This Open Type does not contain any valid data"; });
}

bool ConstraintChecker::do_visit(const GeneralizedTime& value) {
    const bool valid = value.year >= 1 && value.month >= 1 && value.month <= 12 &&
                       value.day >= 1 && value.day <= 31 && value.hour >= 0 &&
                       value.hour <= 24 && value.minute >= 0 && value.minute <= 59 &&
                       value.second >= 0 && value.second <= 59 && value.mindiff >= -720 &&
                       value.mindiff <= 720;
    if (valid) return true;
    return fail([](std::ostream& os) { os << " This GeneralizedTime is not valid"; });
}

bool ConstraintChecker::do_visit(const SEQUENCE_OF_Base& value) {
    if (!checkSize("SEQUENCE OF", value, value.size())) return false;
    for (unsigned i = 0; i < value.size(); ++i) {
        if (!checkComponent(value.getElement(i), "[" + std::to_string(i) + "]")) return false;
    }
    return true;
}

bool ConstraintChecker::visitExtensionRoot(const SEQUENCE& value, int index) {
    const AbstractData* field = value.getField(static_cast<unsigned>(index));
    return field && checkComponent(*field, std::string(".") + value.info()->fieldNames[index]);
}

bool ConstraintChecker::visitKnownExtension(const SEQUENCE& value, int index) {
    return visitExtensionRoot(value, index);
}

}  // namespace ASN1
