// The registry of BASIC built-in functions: rows of name, argument bounds, signature
// and handler, added by modules at start-up.
#pragma once
#include "basic/engine.h"

namespace tarn {

// Receives the evaluated arguments (an 'a' argument arrives as the number 0; the handler
// resolves the array from call->args[i] with array_argument). Returns false only after
// reporting a runtime error with engine_error.
using BuiltinHandler = bool (*)(ScriptEngine* engine, const Expr* call, Value* args, int32_t count,
                                Value* result);

struct BuiltinFunctionDescriptor {
    const char* name;        // lower case; '$' for functions that return strings
    uint32_t min_args;
    uint32_t max_args;
    const char* signature;   // s string, n number, ? either, a array by name
    BuiltinHandler handler;
};

constexpr int32_t kMaxBuiltinArgs = 16;

void register_functions(const BuiltinFunctionDescriptor* table, uint64_t count);
// First registered row whose name equals `name` ignoring ASCII case, or null.
const BuiltinFunctionDescriptor* find_function(const char* name);
// Changes each time a table is registered (lets callers cache lookups); read inline on
// the evaluator's paths.
extern uint32_t g_function_epoch;
inline uint32_t function_registry_epoch() { return g_function_epoch; }
uint64_t function_count();
const BuiltinFunctionDescriptor* function_at(uint64_t index);

// Checks the count and kinds, evaluates the arguments and calls the handler.
bool call_builtin(ScriptEngine* engine, const BuiltinFunctionDescriptor* row, const Expr* call,
                  Expr* const* args, int32_t count, Value* result);

// Registers the language's own function table (first in the start-up order).
void register_basic_functions();

// Host tests: an empty registry.
void reset_function_registry();

}  // namespace tarn
