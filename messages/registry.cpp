#include "messages/registry.h"

#include <cstring>

namespace messages {

const ModuleEntry* find_module(const char* module) {
    for (auto it = modules_begin(); it != modules_end(); ++it) {
        if (std::strcmp((*it)->name, module) == 0) return *it;
    }
    return nullptr;
}

const ASN1::TypeInfo* find_type(const char* module, const char* type) {
    const ModuleEntry* entry = find_module(module);
    if (!entry) return nullptr;
    for (unsigned i = 0; i < entry->count; ++i) {
        if (std::strcmp(entry->types[i].name, type) == 0) return entry->types[i].info;
    }
    return nullptr;
}

}  // namespace messages
