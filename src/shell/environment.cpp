#include "shell/environment.h"

#include "fs/volumes.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/executor.h"
#include "shell/registry.h"
#include "uefi/guids.h"
#include "uefi/tables.h"
#include "vars/variable_access.h"

namespace tarn {
namespace {

struct Entry {
    char* name;
    char* value;
    bool permanent;
};

struct Table {
    Entry* rows;
    uint64_t count;
    uint64_t capacity;
};

struct Override {
    char* name;
    char* value;  // null hides the variable
};

struct EnvironmentState {
    Table variables;
    Table aliases;
    Override* overrides;
    uint64_t override_count;
    uint64_t override_capacity;
};

constinit EnvironmentState g_env = {};

// Permanent entries are stored non-volatile with boot-service access.
constexpr uint32_t kStoredAttributes = efi::kVariableNonVolatile | efi::kVariableBootserviceAccess;

constexpr const char* kReadOnlyNames[] = {"cwd",              "lasterror",   "tarnversion",
                                          "uefishellsupport", "uefishellversion", "uefiversion"};

constexpr const char* kCannotDelete = "cannot delete the variable from the firmware (NVRAM)";

struct DefaultAlias {
    const char* name;
    const char* value;
};
constexpr DefaultAlias kDefaultAliases[] = {
    {"copy", "cp"}, {"ren", "mv"}, {"move", "mv"}, {"rd", "rmdir"}};

// ---- tables ----

Entry* table_find(Table& table, const char* name) {
    for (uint64_t i = 0; i < table.count; i++)
        if (equal_nocase(table.rows[i].name, name)) return &table.rows[i];
    return nullptr;
}

// Creates an entry or replaces the value of the existing one (which keeps its name: a
// permanent entry's firmware variable carries that name).
void table_set(Table& table, const char* name, const char* value, bool permanent) {
    Entry* entry = table_find(table, name);
    if (entry) {
        char* copy = xstrdup(value);
        release(entry->value);
        entry->value = copy;
        entry->permanent = permanent;
        return;
    }
    if (table.count == table.capacity) {
        uint64_t capacity = table.capacity ? table.capacity * 2 : 16;
        table.rows = static_cast<Entry*>(xresize(table.rows, capacity * sizeof(Entry)));
        table.capacity = capacity;
    }
    table.rows[table.count++] = {xstrdup(name), xstrdup(value), permanent};
}

// The last entry takes the place of the removed one.
void table_remove(Table& table, Entry* entry) {
    release(entry->name);
    release(entry->value);
    uint64_t index = static_cast<uint64_t>(entry - table.rows);
    table.count--;
    if (index != table.count) table.rows[index] = table.rows[table.count];
}

void table_free(Table& table) {
    for (uint64_t i = 0; i < table.count; i++) {
        release(table.rows[i].name);
        release(table.rows[i].value);
    }
    release(table.rows);
    table = {};
}

// ---- text checks ----

bool is_text_unit(uint32_t c) {
    if (c == '\t' || c == '\n' || c == '\r') return true;
    if (c < 0x20 || c == 0x7f) return false;
    if (c >= 0xd800 && c <= 0xdfff) return false;
    return c <= 0xffff;
}

bool has_control_characters(const char* text) {
    for (const char* p = text; *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

bool valid_variable_name(const char* name) {
    if (!name || !*name) return false;
    if (strpbrk(name, " \t=")) return false;
    return is_storable_text(name) && !has_control_characters(name);
}

bool valid_alias_name(const char* name) {
    if (!name || !*name) return false;
    if (strpbrk(name, " \t\\/:\"")) return false;
    return is_storable_text(name) && !has_control_characters(name);
}

// ---- read-only variables ----

bool read_only_name(const char* name) {
    for (const char* ro : kReadOnlyNames)
        if (equal_nocase(ro, name)) return true;
    return false;
}

char* uefi_version_text() {
    efi::SystemTable* st = firmware().system_table;
    uint32_t revision = st ? st->hdr.revision : 0;
    uint32_t major = revision >> 16;
    uint32_t minor = (revision & 0xffff) / 10;
    uint32_t patch = (revision & 0xffff) % 10;
    if (patch) return format_string("%u.%u.%u", major, minor, patch);
    return format_string("%u.%u", major, minor);
}

char* read_only_value(const char* name) {
    if (equal_nocase(name, "cwd")) return xstrdup(current_directory());
    if (equal_nocase(name, "lasterror"))
        return format_string("0x%x", static_cast<uint32_t>(last_error()));
    if (equal_nocase(name, "uefishellsupport")) return xstrdup("3");
    if (equal_nocase(name, "uefishellversion")) return xstrdup("2.2");
    if (equal_nocase(name, "uefiversion")) return uefi_version_text();
    if (equal_nocase(name, "tarnversion")) return xstrdup("0.2.1");
    return nullptr;
}

const Override* find_override(const char* name) {
    for (uint64_t i = g_env.override_count; i > 0; i--)
        if (equal_nocase(g_env.overrides[i - 1].name, name)) return &g_env.overrides[i - 1];
    return nullptr;
}

// ---- firmware storage ----

// Writes the value as UCS-2 with its NUL. A variable of that name that already exists
// keeps its attributes when it is non-volatile (the firmware refuses a rewrite with other
// attributes); a volatile one (left by another shell) is replaced by a stored one.
efi::Status store_value(const efi::Guid& guid, const char* name, const char* value) {
    uint64_t units = 0;
    Owned<char16_t> name16(utf8_to_ucs2(name));
    Owned<char16_t> value16(utf8_to_ucs2(value, &units));
    uint64_t size = 0;
    if (add_overflows(units, 1, &size) || mul_overflows(size, 2, &size)) return efi::kOutOfResources;
    uint32_t attributes = kStoredAttributes;
    uint32_t existing = 0;
    if (probe_variable(name16.get(), guid, &existing, nullptr) == efi::kSuccess) {
        if (existing & efi::kVariableNonVolatile)
            attributes = existing & ~efi::kVariableAppendWrite;
        else
            delete_variable_ucs2(name16.get(), guid);
    }
    return write_variable_ucs2(name16.get(), guid, attributes, size, value16.get());
}

// A stored copy that is already gone counts as deleted.
bool remove_stored(const efi::Guid& guid, const char* name) {
    efi::Status status = delete_variable(name, guid);
    return status == efi::kSuccess || status == efi::kNotFound;
}

// ---- start-up ----

struct StoredNames {
    Vector<char16_t*> variables;
    Vector<char16_t*> aliases;
    ~StoredNames() {
        for (char16_t* n : variables) release(n);
        for (char16_t* n : aliases) release(n);
    }
};

char16_t* copy_ucs2(const char16_t* text) {
    uint64_t n = ucs2_length(text);
    char16_t* copy = static_cast<char16_t*>(xallocate_zeroed(n + 1, sizeof(char16_t)));
    memcpy(copy, text, n * sizeof(char16_t));
    return copy;
}

bool collect_name(void* context, const char*, const char16_t* raw_name, const efi::Guid& guid) {
    StoredNames* names = static_cast<StoredNames*>(context);
    if (guid == efi::kShellVariableGuid) names->variables.push(copy_ucs2(raw_name));
    else if (guid == efi::kShellAliasGuid) names->aliases.push(copy_ucs2(raw_name));
    return true;
}

// The name as UTF-8 when every unit is a printable character; else null.
char* stored_name_text(const char16_t* name) {
    for (const char16_t* p = name; *p; p++)
        if (!is_text_unit(*p) || *p == '\t' || *p == '\n' || *p == '\r') return nullptr;
    return ucs2_to_utf8(name);
}

// The value of a stored variable as UTF-8, or null when it is not a non-volatile UCS-2
// text (those stay in the firmware untouched).
char* stored_value_text(const char16_t* name, const efi::Guid& guid) {
    VariableData data;
    if (read_variable_ucs2(name, guid, &data) != efi::kSuccess) return nullptr;
    if (!(data.attributes & efi::kVariableNonVolatile)) return nullptr;
    if (data.size < 2 || data.size % 2 != 0) return nullptr;
    const uint64_t total = data.size / 2;
    uint64_t units = 0;
    const uint8_t* bytes = data.bytes;
    for (; units < total; units++) {
        uint32_t unit = static_cast<uint32_t>(bytes[2 * units] | (bytes[2 * units + 1] << 8));
        if (unit == 0) break;
        if (!is_text_unit(unit)) return nullptr;
    }
    Owned<char16_t> text(static_cast<char16_t*>(xallocate_zeroed(units + 1, sizeof(char16_t))));
    for (uint64_t i = 0; i < units; i++)
        text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return ucs2_to_utf8(text.get(), units);
}

void load_stored_variables(const StoredNames& names) {
    for (char16_t* raw : names.variables) {
        Owned<char> name(stored_name_text(raw));
        if (!name || !valid_variable_name(name.get()) || read_only_name(name.get())) continue;
        if (table_find(g_env.variables, name.get())) continue;  // same name in another case
        Owned<char> value(stored_value_text(raw, efi::kShellVariableGuid));
        if (!value) continue;
        table_set(g_env.variables, name.get(), value.get(), true);
    }
}

void load_stored_aliases(const StoredNames& names) {
    for (char16_t* raw : names.aliases) {
        Owned<char> name(stored_name_text(raw));
        if (!name || !valid_alias_name(name.get()) || find_command(name.get())) continue;
        Entry* existing = table_find(g_env.aliases, name.get());
        if (existing && existing->permanent) continue;  // same name in another case
        Owned<char> value(stored_value_text(raw, efi::kShellAliasGuid));
        if (!value) continue;
        if (existing) table_remove(g_env.aliases, existing);  // a default alias
        table_set(g_env.aliases, name.get(), value.get(), true);
    }
}

char* default_path() {
    int boot = boot_volume_index();
    const Volume* volume = boot >= 0 ? volume_at(boot) : nullptr;
    const char* v = volume ? volume->name : "fs0";
    return format_string(".;%s:\\efi\\tools;%s:\\efi\\boot;%s:\\", v, v, v);
}

NameList make_sorted(Vector<const char*>& names) {
    NameList list;
    list.names = xallocate_array<char*>(names.size() + 1);
    for (uint64_t i = 0; i < names.size(); i++) list.names[i] = xstrdup(names[i]);
    list.count = names.size();
    stable_sort(list.names, list.count, [](const char* a, const char* b) { return compare_nocase(a, b) < 0; });
    return list;
}

}  // namespace

NameList::~NameList() {
    if (!names) return;
    for (uint64_t i = 0; i < count; i++) release(names[i]);
    release(names);
}

bool is_storable_text(const char* text) {
    if (!text) return false;
    uint64_t n = strlen(text);
    uint64_t i = 0;
    while (i < n) {
        uint32_t c = 0;
        uint64_t used = utf8_decode(text + i, n - i, &c);
        if (used == 0) return false;
        if (c == kReplacementCharacter && used == 1) return false;  // malformed
        if (!is_text_unit(c)) return false;
        i += used;
    }
    return true;
}

void load_environment() {
    StoredNames names;
    enumerate_variables(collect_name, &names);
    load_stored_variables(names);
    if (!table_find(g_env.variables, "path")) {
        Owned<char> path(default_path());
        table_set(g_env.variables, "path", path.get(), false);
    }
    if (!table_find(g_env.variables, "profiles"))
        table_set(g_env.variables, "profiles", ";TARN;", false);
    for (const DefaultAlias& alias : kDefaultAliases)
        if (!find_command(alias.name) && !table_find(g_env.aliases, alias.name))
            table_set(g_env.aliases, alias.name, alias.value, false);
    load_stored_aliases(names);
}

char* get_variable(const char* name) {
    if (!name) return nullptr;
    if (const Override* o = find_override(name)) return o->value ? xstrdup(o->value) : nullptr;
    if (read_only_name(name)) return read_only_value(name);
    Entry* entry = table_find(g_env.variables, name);
    return entry ? xstrdup(entry->value) : nullptr;
}

bool variable_exists(const char* name) {
    if (!name) return false;
    if (const Override* o = find_override(name)) return o->value != nullptr;
    if (read_only_name(name)) return true;
    return table_find(g_env.variables, name) != nullptr;
}

bool variable_is_permanent(const char* name) {
    if (!name) return false;
    Entry* entry = table_find(g_env.variables, name);
    return entry && entry->permanent;
}

bool is_read_only_variable(const char* name) { return name && read_only_name(name); }

const char* set_variable(const char* name, const char* value, bool permanent) {
    if (!valid_variable_name(name)) return "invalid variable name";
    if (read_only_name(name)) return "read-only variable";
    Entry* entry = table_find(g_env.variables, name);
    if (!value) {
        if (!entry) return "no such variable";
        if (entry->permanent && !remove_stored(efi::kShellVariableGuid, entry->name))
            return kCannotDelete;
        table_remove(g_env.variables, entry);
        return nullptr;
    }
    if (!is_storable_text(value)) return "invalid variable value";
    if (permanent) {
        const char* stored_name = entry ? entry->name : name;
        if (store_value(efi::kShellVariableGuid, stored_name, value) != efi::kSuccess)
            return "cannot store the variable in the firmware (NVRAM)";
    } else if (entry && entry->permanent) {
        if (!remove_stored(efi::kShellVariableGuid, entry->name)) return kCannotDelete;
    }
    table_set(g_env.variables, name, value, permanent);
    return nullptr;
}

NameList variable_names() {
    Vector<const char*> names;
    for (const char* ro : kReadOnlyNames) names.push(ro);
    for (uint64_t i = 0; i < g_env.variables.count; i++) names.push(g_env.variables.rows[i].name);
    return make_sorted(names);
}

void push_override(const char* name, const char* value) {
    if (g_env.override_count == g_env.override_capacity) {
        uint64_t capacity = g_env.override_capacity ? g_env.override_capacity * 2 : 8;
        g_env.overrides =
            static_cast<Override*>(xresize(g_env.overrides, capacity * sizeof(Override)));
        g_env.override_capacity = capacity;
    }
    g_env.overrides[g_env.override_count++] = {xstrdup(name ? name : ""),
                                               value ? xstrdup(value) : nullptr};
}

void pop_overrides(uint64_t count) {
    while (count-- > 0 && g_env.override_count > 0) {
        Override& o = g_env.overrides[--g_env.override_count];
        release(o.name);
        release(o.value);
    }
}

const char* find_alias(const char* name, bool* permanent) {
    if (!name) return nullptr;
    Entry* entry = table_find(g_env.aliases, name);
    if (!entry) return nullptr;
    if (permanent) *permanent = entry->permanent;
    return entry->value;
}

const char* set_alias(const char* name, const char* value, bool permanent, bool replace) {
    if (!valid_alias_name(name)) return "invalid alias name";
    Entry* entry = table_find(g_env.aliases, name);
    if (!value) {
        if (!entry) return "no such alias";
        if (entry->permanent && !remove_stored(efi::kShellAliasGuid, entry->name))
            return kCannotDelete;
        table_remove(g_env.aliases, entry);
        return nullptr;
    }
    if (find_command(name)) return "a built-in command has this name";
    if (entry && !replace) return "the alias already exists";
    if (!is_storable_text(value)) return "invalid alias value";
    if (permanent) {
        const char* stored_name = entry ? entry->name : name;
        if (store_value(efi::kShellAliasGuid, stored_name, value) != efi::kSuccess)
            return "cannot store the alias in the firmware (NVRAM)";
    } else if (entry && entry->permanent) {
        if (!remove_stored(efi::kShellAliasGuid, entry->name)) return kCannotDelete;
    }
    table_set(g_env.aliases, name, value, permanent);
    return nullptr;
}

NameList alias_names() {
    Vector<const char*> names;
    for (uint64_t i = 0; i < g_env.aliases.count; i++) names.push(g_env.aliases.rows[i].name);
    return make_sorted(names);
}

void reset_environment() {
    table_free(g_env.variables);
    table_free(g_env.aliases);
    pop_overrides(g_env.override_count);
    release(g_env.overrides);
    g_env = {};
}

}  // namespace tarn
