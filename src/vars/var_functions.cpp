// The BASIC functions on firmware variables: varexists, var$, varhex$, varnum, setvar,
// setvarstr, delvar, fwvendor$ and secureboot.
#include "basic/functions.h"
#include "basic/program.h"
#include "basic/values.h"
#include "platform/secure_boot.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/guids.h"
#include "vars/variable_access.h"
#include "vars/variable_text.h"
#include "vars/vars_module.h"

namespace tarn {
namespace {

// The GUID argument at index (global when absent); false after the script error.
bool guid_argument(ScriptEngine* e, const Expr* call, Value* args, int32_t count, int32_t index,
                   efi::Guid* guid) {
    *guid = efi::kGlobalVariableGuid;
    if (count <= index) return true;
    const char* text = args[index].string->bytes();
    if (parse_guid(text, guid)) return true;
    return engine_error(e, call->line, "invalid GUID: %s", text);
}

// Reads name$ [, guid$]; false after a script error. A missing variable leaves v empty.
bool read_argument(ScriptEngine* e, const Expr* call, Value* args, int32_t count, VariableData* v,
                   bool* found) {
    efi::Guid guid;
    if (!guid_argument(e, call, args, count, 1, &guid)) return false;
    *found = read_variable(args[0].string->bytes(), guid, v) == efi::kSuccess;
    return true;
}

// The result of a writer: 0 or the low eight bits of the status, also kept in ERR.
void write_result(ScriptEngine* e, Value* result, efi::Status status) {
    const int64_t code = efi::is_error(status) ? static_cast<int64_t>(status & 0xff) : 0;
    e->err = code;
    *result = number_value(code);
}

bool fn_varexists(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    VariableData v;
    bool found = false;
    if (!read_argument(e, call, args, count, &v, &found)) return false;
    *result = number_value(found ? -1 : 0);
    return true;
}

bool fn_var(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    VariableData v;
    bool found = false;
    if (!read_argument(e, call, args, count, &v, &found)) return false;
    Owned<char> text(found ? value_as_string(v.bytes, v.size) : xstrdup(""));
    *result = string_value(new_string_text(text.get()));
    return true;
}

bool fn_varhex(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    VariableData v;
    bool found = false;
    if (!read_argument(e, call, args, count, &v, &found)) return false;
    Owned<char> text(found ? hex_text(v.bytes, v.size) : xstrdup(""));
    *result = string_value(new_string_text(text.get()));
    return true;
}

bool fn_varnum(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    VariableData v;
    bool found = false;
    if (!read_argument(e, call, args, count, &v, &found)) return false;
    uint64_t n = 0;
    for (uint64_t i = found ? min_of<uint64_t>(v.size, 8) : 0; i > 0; i--) n = (n << 8) | v.bytes[i - 1];
    *result = number_value(static_cast<int64_t>(n));
    return true;
}

// Writes with the attributes argument, or those of an existing variable, or 7.
bool write_with(ScriptEngine* e, const Expr* call, Value* args, int32_t count, const void* data,
                uint64_t size, Value* result) {
    efi::Guid guid;
    if (!guid_argument(e, call, args, count, 2, &guid)) return false;
    const char* name = args[0].string->bytes();
    uint32_t attributes = 7;
    if (count > 3) {
        attributes = static_cast<uint32_t>(args[3].number);
    } else {
        Owned<char16_t> name16(utf8_to_ucs2(name));
        uint32_t existing = 0;
        if (probe_variable(name16.get(), guid, &existing, nullptr) == efi::kSuccess) attributes = existing;
    }
    write_result(e, result, write_variable(name, guid, attributes, size, data));
    return true;
}

bool fn_setvar(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    SharedString* hex = args[1].string;
    uint8_t* raw = nullptr;
    uint64_t size = 0;
    if (!decode_hex(hex->bytes(), hex->length, &raw, &size))
        return engine_error(e, call->line, "SETVAR: data must be hexadecimal, e.g. \"0100\"");
    Owned<uint8_t> data(raw);
    return write_with(e, call, args, count, data.get(), size, result);
}

bool fn_setvarstr(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    uint64_t units = 0;
    Owned<char16_t> text(utf8_to_ucs2_n(args[1].string->bytes(), args[1].string->length, &units));
    return write_with(e, call, args, count, text.get(), (units + 1) * 2, result);
}

bool fn_delvar(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    efi::Guid guid;
    if (!guid_argument(e, call, args, count, 1, &guid)) return false;
    write_result(e, result, delete_variable(args[0].string->bytes(), guid));
    return true;
}

bool fn_fwvendor(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    const efi::SystemTable* st = firmware().system_table;
    Owned<char> text(st && st->firmware_vendor ? ucs2_to_utf8(st->firmware_vendor) : xstrdup(""));
    *result = string_value(new_string_text(text.get()));
    return true;
}

bool fn_secureboot(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    *result = number_value(secure_boot_active() ? -1 : 0);
    return true;
}

constexpr BuiltinFunctionDescriptor kFunctions[] = {
    {"varexists", 1, 2, "s", fn_varexists},   {"var$", 1, 2, "s", fn_var},
    {"varhex$", 1, 2, "s", fn_varhex},        {"varnum", 1, 2, "s", fn_varnum},
    {"setvar", 2, 4, "sssn", fn_setvar},      {"setvarstr", 2, 4, "sssn", fn_setvarstr},
    {"delvar", 1, 2, "s", fn_delvar},         {"fwvendor$", 0, 0, "", fn_fwvendor},
    {"secureboot", 0, 0, "", fn_secureboot},
};

}  // namespace

void register_variable_functions() { register_functions(kFunctions, array_size(kFunctions)); }

}  // namespace tarn
