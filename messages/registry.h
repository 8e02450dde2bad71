#pragma once
// The types of every message module by name: for tools and tests that pick a
// type at run time (the known-answer vectors, the round trip of every type).

#include "asn1/type_info.h"

namespace messages {

struct TypeEntry {
    const char* name;  // as in the module, e.g. "Message", "RtpParams::dname::value_type"
    const ASN1::TypeInfo* info;
};

struct ModuleEntry {
    const char* name;  // "LGCP", "TERM", ...
    const TypeEntry* types;
    unsigned count;
};

// Every module, in the order of their sources.
const ModuleEntry* const* modules_begin();
const ModuleEntry* const* modules_end();

// The module of that name, or null.
const ModuleEntry* find_module(const char* module);
// The record of module's type of that name, or null.
const ASN1::TypeInfo* find_type(const char* module, const char* type);

}  // namespace messages
