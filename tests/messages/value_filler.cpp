#include "tests/messages/value_filler.h"

#include <cstdint>
#include <cstring>

namespace messages_test {

using namespace ASN1;

ValueFiller::ValueFiller(unsigned seed, std::vector<std::string> path)
    : k_(seed), path_(std::move(path)) {}

bool ValueFiller::fill(AbstractData& value) { return value.accept(*this); }

bool ValueFiller::do_visit(Null&) {
    next();
    return true;
}

bool ValueFiller::do_visit(BOOLEAN& value) {
    value.setValue(next() % 2 == 1);
    return true;
}

bool ValueFiller::do_visit(INTEGER& value) {
    const int64_t k = next();
    if (value.constraintType() == Unconstrained) {
        if (k % 3 == 1)
            value.setValue(static_cast<int>(k % 100));
        else if (k % 3 == 0)
            value.setValue(static_cast<int>((k * 7919) % 65537 - 32768));
        else
            value.setValue(static_cast<int>(-(k * 104729)));
        return true;
    }
    const int64_t lower = value.lowerLimit();
    const int64_t range = int64_t(value.upperLimit()) - lower + 1;
    value.setValue(static_cast<unsigned>(lower + (k * 7919) % range));
    return true;
}

bool ValueFiller::do_visit(ENUMERATED& value) {
    const unsigned k = next();
    const EnumeratedInfo* info = value.info();
    std::vector<int> candidates;
    for (unsigned i = 0; i < info->nameCount; ++i) {
        const int v = info->names[i].value;
        if (v >= 0 && v <= info->maxEnumValue) candidates.push_back(v);
    }
    value.setValue(candidates[k % candidates.size()]);
    return true;
}

bool ValueFiller::do_visit(OBJECT_IDENTIFIER& value) {
    value.arcs() = {1, 3, 6, next() % 1000};
    return true;
}

bool ValueFiller::do_visit(OCTET_STRING& value) {
    const unsigned k = next();
    value.clear();
    for (unsigned i = 0; i < k % 5; ++i) value.push_back(static_cast<char>((k * 31 + i * 17) % 256));
    return true;
}

bool ValueFiller::do_visit(AbstractString& value) {
    std::string text = "t" + std::to_string(next());
    if (value.constraintType() != Unconstrained) {
        if (text.size() > value.upperLimit()) text.resize(value.upperLimit());
        if (text.size() < unsigned(value.lowerLimit())) text.resize(value.lowerLimit(), 'x');
    }
    value = text;
    return true;
}

bool ValueFiller::do_visit(CHOICE& value) {
    const unsigned k = next();
    int index = static_cast<int>(k % value.totalChoices());
    if (next_in_path_ < path_.size()) {
        const std::string& name = path_[next_in_path_++];
        index = -1;
        for (unsigned i = 0; i < value.totalChoices(); ++i) {
            if (name == value.info()->selectionNames[i]) index = static_cast<int>(i);
        }
        if (index < 0) return false;
    }
    value.setSelection(index, nullptr);
    return value.createSelection() && value.getSelection()->accept(*this);
}

bool ValueFiller::do_visit(SEQUENCE_OF_Base& value) {
    value.resize(next() % 3);
    for (unsigned i = 0; i < value.size(); ++i) {
        if (!value.getElement(i).accept(*this)) return false;
    }
    return true;
}

int ValueFiller::preVisitExtensionRoots(SEQUENCE& value) {
    const unsigned k = next();
    for (unsigned i = 0; i < value.numRootFields(); ++i) {
        const int id = value.fieldId(i);
        if (id >= 0 && (k + i) % 4 != 3) value.includeOptionalField(id, i);
    }
    if (value.knownExtensionCount() == 0 || k % 2 != 0) return NO_EXTENSION;
    for (unsigned j = 0; j < value.knownExtensionCount(); ++j)
        value.includeOptionalField(value.numOptional() + j, value.numRootFields() + j);
    return CONTINUE;
}

int ValueFiller::fillField(SEQUENCE& value, int index) {
    AbstractData* field = value.createField(index);
    return field && field->accept(*this) ? CONTINUE : FAIL;
}

int ValueFiller::visitExtensionRoot(SEQUENCE& value, int index, int optionalId) {
    if (optionalId >= 0 && !value.hasOptionalField(optionalId)) return CONTINUE;
    return fillField(value, index);
}

int ValueFiller::visitKnownExtension(SEQUENCE& value, int index, int optionalId) {
    if (!value.hasOptionalField(optionalId)) return CONTINUE;
    return fillField(value, index);
}

}  // namespace messages_test
