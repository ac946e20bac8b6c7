// var: list, show, set, delete, save and restore UEFI variables.
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/options.h"
#include "shell/registry.h"
#include "uefi/guids.h"
#include "vars/variable_access.h"
#include "vars/variable_text.h"
#include "vars/vars_module.h"

namespace tarn {
namespace {

int var_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"var", var_command, "var list|get|set|del|save|load ...", "Read and write UEFI variables",
     "  var list [PATTERN] [-g GUID]        names, attributes and sizes\n"
     "  var get NAME [-g GUID] [-x|-s|-n] [-v]\n"
     "                                      the value (hex dump, string or number)\n"
     "  var set NAME VALUE [-g GUID] [-t TYPE] [-a ATTR]\n"
     "                                      TYPE: str ascii u8 u16 u32 u64 hex file\n"
     "                                      ATTR: nv,bs,rt or a number such as 0x7\n"
     "  var del NAME [-g GUID]              deletes the variable\n"
     "  var save FILE [PATTERN] [-g GUID]   writes a backup text\n"
     "  var load FILE                       writes back the variables of a backup\n"
     "  GUID: xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx or global, security, shim, shell,\n"
     "  systemd (default global; list and save show every GUID without -g).\n",
     kCommandStructuredOutput},
};

struct VarOptions {
    const char* guid = nullptr;
    const char* attributes = nullptr;
    const char* type = nullptr;
    bool hex = false, string = false, number = false, verbose = false, yes = false;
};

constexpr uint8_t kAtEnd = kOptionPositionalAtEnd;
constexpr Option<VarOptions> kVarOptions[] = {
    value_option("g", &VarOptions::guid, kAtEnd),
    value_option("a", &VarOptions::attributes, kAtEnd),
    value_option("t", &VarOptions::type, kAtEnd),
    switch_option("x", &VarOptions::hex),
    switch_option("s", &VarOptions::string),
    switch_option("n", &VarOptions::number),
    switch_option("v", &VarOptions::verbose),
    switch_option("y", &VarOptions::yes),
};

constexpr int kMaxPositionals = 8;
const char* const kCommand = "var";

// What list and save select: an optional GUID and an optional name pattern.
struct Selection {
    bool any_guid = true;
    efi::Guid guid = {};
    const char* pattern = nullptr;
};

bool selected(const Selection& s, const char* name, const efi::Guid& guid) {
    if (!s.any_guid && memcmp(&s.guid, &guid, sizeof guid) != 0) return false;
    return !s.pattern || wildcard_match(s.pattern, name, true);
}

bool cancelled() { return pager_stopped() || poll_break(); }

// ---- list

struct ListState {
    Selection selection;
    uint64_t matched = 0;
};

bool list_one(void* context, const char* name, const char16_t* raw, const efi::Guid& guid) {
    ListState* state = static_cast<ListState*>(context);
    if (!selected(state->selection, name, guid)) return true;
    state->matched++;
    VariableData value;
    if (efi::is_error(read_variable_ucs2(raw, guid, &value))) value.clear();
    char guid_text[kGuidTextSize];
    format_guid(guid, guid_text);
    const char* table_name = guid_name(guid);
    if (data_mode()) {
        char attributes[kLongAttributesSize];
        attributes_long(value.attributes, attributes);
        record_begin();
        record_field("name", "%s", name);
        record_field("guid", "%s", guid_text);
        record_field("guid_name", "%s", table_name ? table_name : "");
        record_field("attributes", "%s", attributes);
        record_field("size", "%zu", static_cast<size_t>(value.size));
    } else {
        char attributes[kShortAttributesSize];
        attributes_short(value.attributes, attributes);
        out_printf("%-36s %-7s %6zu  %s\n", table_name ? table_name : guid_text, attributes,
                   static_cast<size_t>(value.size), name);
    }
    return !cancelled();
}

int var_list(const Selection& selection) {
    ListState state;
    state.selection = selection;
    const efi::Status status = enumerate_variables(list_one, &state);
    if (efi::is_error(status))
        return report_error(kCommand, "cannot list variables: %s", status_message(status));
    if (state.matched == 0 && selection.pattern)
        return report_error(kCommand, "no variable matches %s", selection.pattern);
    return 0;
}

// ---- get

uint64_t little_endian(const uint8_t* bytes, uint64_t size) {
    uint64_t value = 0;
    for (uint64_t i = min_of<uint64_t>(size, 8); i > 0; i--) value = (value << 8) | bytes[i - 1];
    return value;
}

void print_number(const VariableData& v) {
    const unsigned long long n = little_endian(v.bytes, v.size);
    out_printf("%llu (0x%llx)\n", n, n);
}

void print_string(const VariableData& v) {
    Owned<char> text(value_as_string(v.bytes, v.size));
    out_printf("%s\n", text.get());
}

bool is_printable_ascii(const uint8_t* bytes, uint64_t size) {
    for (uint64_t i = 0; i < size; i++) {
        if (bytes[i] == 0 && i + 1 == size && size > 1) continue;
        if (bytes[i] < 0x20 || bytes[i] > 0x7e) return false;
    }
    return true;
}

void print_automatic(const VariableData& v) {
    if (v.size == 0) return;
    // Two bytes are a number even when they would read as one UCS-2 character: "en" is
    // far more likely a short ASCII value than the character U+6E65.
    if (v.size > 2 && (is_ucs2_text(v.bytes, v.size) || is_printable_ascii(v.bytes, v.size)))
        return print_string(v);
    if (v.size == 1 || v.size == 2 || v.size == 4 || v.size == 8) return print_number(v);
    hex_dump(v.bytes, v.size);
}

int var_get(const char* name, const efi::Guid& guid, const VarOptions& o) {
    VariableData v;
    const efi::Status status = read_variable(name, guid, &v);
    if (efi::is_error(status)) return report_error(kCommand, "%s: %s", name, status_message(status));
    if (o.verbose) {
        char attributes[kShortAttributesSize];
        attributes_short(v.attributes, attributes);
        out_printf("%s  attributes %s (0x%x), %zu bytes\n", name, attributes, v.attributes,
                   static_cast<size_t>(v.size));
    }
    const bool order_list = equal_nocase(name, "BootOrder") || equal_nocase(name, "DriverOrder");
    if (o.hex) {
        hex_dump(v.bytes, v.size);
    } else if (o.string) {
        print_string(v);
    } else if (order_list && v.size % 2 == 0) {
        for (uint64_t i = 0; i < v.size; i += 2)
            out_printf(i ? ",%04X" : "%04X", v.bytes[i] | (v.bytes[i + 1] << 8));
        out_text("\n");
    } else if (o.number || order_list) {
        print_number(v);
    } else {
        print_automatic(v);
    }
    return 0;
}

// ---- set

// The value of VALUE by its type; false after reporting the error.
bool encode_value(const char* type, const char* value, Owned<uint8_t>* out, uint64_t* size) {
    if (equal_nocase(type, "str")) {
        uint64_t units = 0;
        out->reset(reinterpret_cast<uint8_t*>(utf8_to_ucs2(value, &units)));
        *size = (units + 1) * 2;
        return true;
    }
    if (equal_nocase(type, "ascii")) {
        *size = strlen(value) + 1;
        out->reset(reinterpret_cast<uint8_t*>(xstrdup(value)));
        return true;
    }
    static const char* const kIntegers[] = {"u8", "u16", "u32", "u64"};
    for (int k = 0; k < 4; k++) {
        if (!equal_nocase(type, kIntegers[k])) continue;
        int64_t number = 0;
        if (!parse_integer(value, &number)) {
            report_error(kCommand, "%s is not a number", value);
            return false;
        }
        *size = 1u << k;
        out->reset(static_cast<uint8_t*>(xallocate(8)));
        for (int i = 0; i < 8; i++) (*out)[i] = static_cast<uint8_t>(static_cast<uint64_t>(number) >> (8 * i));
        return true;
    }
    if (equal_nocase(type, "hex")) {
        uint8_t* bytes = nullptr;
        if (!decode_hex(value, strlen(value), &bytes, size)) {
            report_error(kCommand, "invalid hex data");
            return false;
        }
        out->reset(bytes);
        return true;
    }
    if (equal_nocase(type, "file")) {
        Owned<char> path(resolve_path(value));
        if (!path) {
            report_error(kCommand, "%s: invalid path", value);
            return false;
        }
        char* data = nullptr;
        const ShellError err = read_whole_file(path.get(), &data, size);
        if (err != kOk) {
            report_error(kCommand, "%s: %s", value, error_message(err));
            return false;
        }
        out->reset(reinterpret_cast<uint8_t*>(data));
        return true;
    }
    report_error(kCommand, "unknown type %s (str, ascii, u8, u16, u32, u64, hex, file)", type);
    return false;
}

// -a as a number or a list of nv, bs, rt. 0 when it is invalid.
uint32_t parse_attributes(const char* text, bool* numeric) {
    int64_t number = 0;
    *numeric = parse_integer(text, &number);
    if (*numeric) return number < 0 || number > 0xffffffff ? 0 : static_cast<uint32_t>(number);
    uint32_t bits = 0;
    const char* p = text;
    for (;;) {
        const char* comma = strchr(p, ',');
        const uint64_t n = comma ? static_cast<uint64_t>(comma - p) : strlen(p);
        if (n == 2 && compare_nocase_n(p, "nv", 2) == 0) bits |= efi::kVariableNonVolatile;
        else if (n == 2 && compare_nocase_n(p, "bs", 2) == 0) bits |= efi::kVariableBootserviceAccess;
        else if (n == 2 && compare_nocase_n(p, "rt", 2) == 0) bits |= efi::kVariableRuntimeAccess;
        else return 0;
        if (!comma) return bits;
        p = comma + 1;
    }
}

int var_set(const char* name, const char* value, const efi::Guid& guid, const VarOptions& o) {
    Owned<uint8_t> data;
    uint64_t size = 0;
    if (!encode_value(o.type ? o.type : "str", value, &data, &size)) return 1;
    uint32_t attributes = 7;
    if (o.attributes) {
        bool numeric = false;
        attributes = parse_attributes(o.attributes, &numeric);
        // Without boot-service access the firmware takes the write as a delete.
        if (numeric && !(attributes & efi::kVariableBootserviceAccess)) {
            print_error("var: invalid attributes %s (e.g. nv,bs,rt or 0x7)\n", o.attributes);
            return report_usage(kCommand);
        }
        if (attributes == 0)
            return report_error(kCommand, "invalid attributes %s (e.g. nv,bs,rt or 0x7)", o.attributes);
    } else {
        Owned<char16_t> name16(utf8_to_ucs2(name));
        uint32_t existing = 0;
        if (probe_variable(name16.get(), guid, &existing, nullptr) == efi::kSuccess)
            attributes = existing;
    }
    const efi::Status status = write_variable(name, guid, attributes, size, data.get());
    if (efi::is_error(status))
        return report_error(kCommand, "cannot write %s: %s", name, status_message(status));
    return 0;
}

// ---- save and load

struct SaveState {
    Selection selection;
    StringBuffer text;
    int saved = 0;
};

bool save_one(void* context, const char* name, const char16_t* raw, const efi::Guid& guid) {
    SaveState* state = static_cast<SaveState*>(context);
    if (!selected(state->selection, name, guid)) return true;
    VariableData v;
    if (read_variable_ucs2(raw, guid, &v) == efi::kSuccess) {
        append_backup_line(state->text, name, guid, v.attributes, v.bytes, v.size);
        state->saved++;
    }
    return !cancelled();
}

int var_save(const char* file, const Selection& selection) {
    Owned<char> path(resolve_path(file));
    if (!path) return report_error(kCommand, "%s: invalid path", file);
    SaveState state;
    state.selection = selection;
    init(state.text);
    append_text(state.text, kVariableBackupHeader);
    const efi::Status status = enumerate_variables(save_one, &state);
    if (efi::is_error(status))
        return report_error(kCommand, "cannot list variables: %s", status_message(status));
    const ShellError err = write_whole_file(path.get(), state.text.c_str(), state.text.length);
    if (err != kOk) return report_error(kCommand, "%s: %s", path.get(), error_message(err));
    out_printf("%d variable%s saved to %s\n", state.saved, state.saved == 1 ? "" : "s", path.get());
    return 0;
}

int var_load(const char* file) {
    Owned<char> path(resolve_path(file));
    if (!path) return report_error(kCommand, "%s: invalid path", file);
    char* text = nullptr;
    uint64_t length = 0;
    const ShellError err = read_text_file(path.get(), &text, &length);
    if (err != kOk) return report_error(kCommand, "%s: %s", path.get(), error_message(err));
    Owned<char> owned(text);
    return load_variable_text(text, length, true) ? 1 : 0;
}

// ---- the command

enum class Sub : uint8_t { kList, kGet, kSet, kDel, kSave, kLoad };

struct SubRow {
    const char* name;
    Sub sub;
    int min_positionals;
    int max_positionals;
};

constexpr SubRow kSubcommands[] = {
    {"list", Sub::kList, 0, 1}, {"ls", Sub::kList, 0, 1}, {"get", Sub::kGet, 1, 1},
    {"set", Sub::kSet, 2, 2},   {"del", Sub::kDel, 1, 1}, {"rm", Sub::kDel, 1, 1},
    {"save", Sub::kSave, 1, 2}, {"load", Sub::kLoad, 1, 1},
};

int var_command(int count, char** vector) {
    VarOptions o;
    const int first = parse_options(count, vector, kVarOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    const int positionals = min_of(count - first, kMaxPositionals);
    if (positionals == 0) return report_usage(kCommand);
    const SubRow* row = nullptr;
    for (const SubRow& r : kSubcommands)
        if (equal_nocase(vector[first], r.name)) row = &r;
    char** args = vector + first + 1;
    const int n = positionals - 1;
    if (!row || n < row->min_positionals || n > row->max_positionals) return report_usage(kCommand);

    Selection selection;
    efi::Guid guid = efi::kGlobalVariableGuid;
    if (o.guid) {
        if (!parse_guid(o.guid, &guid)) {
            print_error("var: invalid GUID %s (use xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx or a name "
                        "like global)\n", o.guid);
            return kExitUsage;
        }
        selection.any_guid = false;
        selection.guid = guid;
    }
    switch (row->sub) {
        case Sub::kList:
            selection.pattern = n > 0 ? args[0] : nullptr;
            return var_list(selection);
        case Sub::kGet: return var_get(args[0], guid, o);
        case Sub::kSet: return var_set(args[0], args[1], guid, o);
        case Sub::kDel: {
            const efi::Status status = delete_variable(args[0], guid);
            if (efi::is_error(status))
                return report_error(kCommand, "cannot delete %s: %s", args[0], status_message(status));
            return 0;
        }
        case Sub::kSave:
            selection.pattern = n > 1 ? args[1] : nullptr;
            return var_save(args[0], selection);
        case Sub::kLoad: return var_load(args[0]);
    }
    return report_usage(kCommand);
}

}  // namespace

void register_var_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
