// Environment variables and command aliases: two name-value tables, each entry
// temporary or permanent (kept in a firmware variable under the UEFI Shell's GUIDs).
#pragma once
#include "runtime/util.h"

namespace tarn {

// A newly allocated list of names that frees itself.
struct NameList {
    char** names = nullptr;
    uint64_t count = 0;

    NameList() = default;
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;
    NameList(NameList&& o) : names(o.names), count(o.count) {
        o.names = nullptr;
        o.count = 0;
    }
    ~NameList();
    const char* operator[](uint64_t i) const { return names[i]; }
};

// Start-up: reads the stored variables and aliases from the firmware and adds the
// defaults (path, profiles, the default aliases). Called after module registration.
void load_environment();

// Environment variables. Names compare ignoring ASCII case.
// A newly allocated copy of the value, or null. Looks at the override stack, then the
// read-only variables, then the table.
char* get_variable(const char* name);
bool variable_exists(const char* name);
bool variable_is_permanent(const char* name);
bool is_read_only_variable(const char* name);
// value null deletes. Returns null on success, or a static message.
const char* set_variable(const char* name, const char* value, bool permanent);
// Every name, the read-only ones included, sorted ignoring case.
NameList variable_names();

// The override stack of the UEFI Shell protocol support: a value of null hides the
// variable while the entry is on the stack.
void push_override(const char* name, const char* value);
void pop_overrides(uint64_t count);

// Aliases. The value returned by find_alias belongs to the table: copy it before the
// aliases can change.
const char* find_alias(const char* name, bool* permanent);
// value null deletes. Returns null on success, or a static message.
const char* set_alias(const char* name, const char* value, bool permanent, bool replace);
NameList alias_names();

// Whether text can be a value: valid UTF-8 of code points that UCS-2 holds, without
// control characters other than tab, line feed and carriage return.
bool is_storable_text(const char* text);

// Host tests: empty tables, no overrides.
void reset_environment();

}  // namespace tarn
