// The built-in function registry and the checked call path.
#include "basic/functions.h"

#include "runtime/exit.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

struct FunctionRegistry {
    const BuiltinFunctionDescriptor** rows;
    uint64_t count;
    uint64_t capacity;
};

constinit FunctionRegistry g_functions = {};

// The letter of argument i in a signature of n letters (the last one repeats).
char signature_letter(const char* signature, uint64_t n, int32_t i) {
    if (n == 0) return 0;
    return signature[static_cast<uint64_t>(i) < n ? static_cast<uint64_t>(i) : n - 1];
}

}  // namespace

void register_functions(const BuiltinFunctionDescriptor* table, uint64_t count) {
    uint64_t need;
    if (add_overflows(g_functions.count, count, &need)) fatal("out of memory");
    if (need > g_functions.capacity) {
        uint64_t capacity = g_functions.capacity ? g_functions.capacity : 64;
        while (capacity < need) capacity *= 2;
        uint64_t bytes;
        if (mul_overflows(capacity, sizeof(const BuiltinFunctionDescriptor*), &bytes)) fatal("out of memory");
        g_functions.rows = static_cast<const BuiltinFunctionDescriptor**>(xresize(g_functions.rows, bytes));
        g_functions.capacity = capacity;
    }
    for (uint64_t i = 0; i < count; i++) g_functions.rows[g_functions.count++] = &table[i];
    g_function_epoch++;
}

const BuiltinFunctionDescriptor* find_function(const char* name) {
    if (!name) return nullptr;
    for (uint64_t i = 0; i < g_functions.count; i++)
        if (compare_nocase(g_functions.rows[i]->name, name) == 0) return g_functions.rows[i];
    return nullptr;
}

constinit uint32_t g_function_epoch = 0;

uint64_t function_count() { return g_functions.count; }
const BuiltinFunctionDescriptor* function_at(uint64_t index) {
    return index < g_functions.count ? g_functions.rows[index] : nullptr;
}

void reset_function_registry() {
    release(g_functions.rows);
    g_functions = FunctionRegistry{};
    g_function_epoch++;  // stale cached lookups must not survive a reset
}

bool call_builtin(ScriptEngine* engine, const BuiltinFunctionDescriptor* row, const Expr* call,
                  Expr* const* args, int32_t count, Value* result) {
    int32_t line = call ? call->line : 0;
    uint32_t n = static_cast<uint32_t>(count);
    if (count < 0 || n < row->min_args || n > row->max_args) {
        if (row->min_args == row->max_args)
            return engine_error(engine, line, "%s expects %u argument%s", row->name, row->min_args,
                                row->min_args == 1 ? "" : "s");
        return engine_error(engine, line, "%s expects %u to %u arguments", row->name, row->min_args,
                            row->max_args);
    }
    if (count > kMaxBuiltinArgs) return engine_error(engine, line, "too many arguments");
    Value values[kMaxBuiltinArgs];
    int32_t done = 0;
    bool ok = true;
    uint64_t letters = strlen(row->signature);
    for (; done < count; done++) {
        char letter = signature_letter(row->signature, letters, done);
        if (letter == 'a') {
            values[done] = number_value(0);
            continue;
        }
        if (!eval(engine, args[done], &values[done])) {
            ok = false;
            break;
        }
        if (letter == 's' && values[done].kind != kValueString) {
            done++;
            ok = engine_error(engine, line, "%s: argument %d must be a string", row->name, done);
            break;
        }
        if (letter == 'n' && values[done].kind != kValueNumber) {
            done++;
            ok = engine_error(engine, line, "%s: argument %d must be a number", row->name, done);
            break;
        }
    }
    if (ok) {
        *result = number_value(0);
        ok = row->handler(engine, call, values, count, result);
        if (ok) {
            bool want_string = name_is_string(row->name);
            if (want_string != (result->kind == kValueString)) {
                value_release(*result);
                *result = default_value(row->name);
            }
        } else {
            value_release(*result);
        }
    }
    for (int32_t i = 0; i < done; i++) value_release(values[i]);
    return ok;
}

}  // namespace tarn
