// The BASIC boot functions: read access to the boot entries for scripts.
#include "basic/engine.h"
#include "basic/functions.h"
#include "basic/values.h"
#include "boot/boot_module.h"
#include "boot/load_option.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace tarn {
namespace {

Value text_result(const char* text) { return string_value(new_string_text(text)); }

bool fn_bootcount(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    Vector<uint32_t> order;
    read_order("BootOrder", order);
    *result = number_value(static_cast<int64_t>(order.size()));
    return true;
}

bool fn_bootid(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    Vector<uint32_t> order;
    read_order("BootOrder", order);
    const int64_t n = args[0].number;
    const int64_t last = static_cast<int64_t>(order.size()) - 1;
    if (n < 0 || n > last)
        return engine_error(e, call->line, "BOOTID: index %lld out of range (0 to %lld)",
                            static_cast<long long>(n), static_cast<long long>(last));
    *result = number_value(order[static_cast<size_t>(n)]);
    return true;
}

bool fn_bootcurrent(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    uint32_t current = 0;
    *result = number_value(read_u16_variable("BootCurrent", &current) ? static_cast<int64_t>(current) : -1);
    return true;
}

// The Boot#### entry an id names; false after a script error. *found says whether it exists
// (ERR is 127 when not, 0 when it does).
bool entry_of(ScriptEngine* e, const Expr* call, const Value& id, LoadOption* o, bool* found) {
    if (id.number < 0 || id.number > 0xffff)
        return engine_error(e, call->line, "invalid boot entry number");
    *found = read_load_option("Boot", static_cast<uint32_t>(id.number), o);
    set_err(e, *found ? 0 : kExitNotFound);
    return true;
}

enum class Part { kDescription, kPath, kArgs };

bool entry_text(ScriptEngine* e, const Expr* call, Value* args, Value* result, Part part) {
    LoadOption o;
    bool found = false;
    if (!entry_of(e, call, args[0], &o, &found)) return false;
    if (!found) {
        *result = text_result("");
        return true;
    }
    Owned<char> text;
    if (part == Part::kDescription) text.reset(xstrdup(o.description));
    else if (part == Part::kPath) text.reset(device_path_text(o.device_path, o.device_path_length));
    else text.reset(format_optional_data(o));
    *result = text_result(text.get());
    return true;
}

bool fn_bootdesc(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    return entry_text(e, call, args, result, Part::kDescription);
}
bool fn_bootpath(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    return entry_text(e, call, args, result, Part::kPath);
}
bool fn_bootargs(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    return entry_text(e, call, args, result, Part::kArgs);
}

bool fn_bootenabled(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    LoadOption o;
    bool found = false;
    if (!entry_of(e, call, args[0], &o, &found)) return false;
    *result = number_value(found && (o.attributes & kLoadOptionActive) ? -1 : 0);
    return true;
}

constexpr BuiltinFunctionDescriptor kBootFunctions[] = {
    {"bootcount", 0, 0, "", fn_bootcount},
    {"bootid", 1, 1, "n", fn_bootid},
    {"bootcurrent", 0, 0, "", fn_bootcurrent},
    {"bootdesc$", 1, 1, "n", fn_bootdesc},
    {"bootpath$", 1, 1, "n", fn_bootpath},
    {"bootargs$", 1, 1, "n", fn_bootargs},
    {"bootenabled", 1, 1, "n", fn_bootenabled},
};

}  // namespace

void register_boot_functions() { register_functions(kBootFunctions, array_size(kBootFunctions)); }

}  // namespace tarn
