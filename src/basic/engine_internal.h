// Helpers shared by the evaluator and the statement executor.
#pragma once
#include "basic/engine.h"
#include "basic/functions.h"
#include "runtime/strings.h"

namespace tarn {

inline void cache_sync(const ScriptEngine* e, NameCache* c) {
    if (c->key != e->resolve_key) {
        c->key = e->resolve_key;
        c->global = nullptr;
        c->procedure = nullptr;
        c->procedure_known = false;
        c->globals_version = 0;
        c->builtin = nullptr;
        c->builtin_epoch = 0;
    }
}

// Creates a global variable (the caller knows none exists) and remembers it in the slot
// of the name node, if any.
inline Variable* create_global(ScriptEngine* e, const char* name, uint32_t hash, GlobalSlot* slot) {
    Variable* v = scope_insert(&e->globals, name, hash, false);
    e->globals_version++;
    if (slot) slot->var = v;
    return v;
}

// The global of a slot's name, found by name only when a global was created since the
// slot last found it absent.
[[gnu::noinline]] Variable* find_slot_global(ScriptEngine* e, GlobalSlot* slot);
[[gnu::always_inline]] inline Variable* slot_global(ScriptEngine* e, GlobalSlot* slot) {
    if (slot->var) return slot->var;
    if (slot->absent_version == e->globals_version + 1) return nullptr;
    return find_slot_global(e, slot);
}

// Whether the name is that of a built-in function or of a procedure (which no
// assignment may take), worked out once per set of registered procedures.
bool find_slot_function(ScriptEngine* e, GlobalSlot* slot);
inline bool slot_names_function(ScriptEngine* e, GlobalSlot* slot) {
    if (slot->function_key == e->resolve_key && slot->function_epoch == function_registry_epoch() + 1)
        return slot->names_function;
    return find_slot_function(e, slot);
}

// Works out which parameter of the current procedure (if any) a name is.
inline void learn_parameter(const Procedure* proc, const char* name, uint32_t hash, NameCache* c) {
    c->param_owner = proc;
    c->param_index = -1;
    for (int32_t i = proc->param_count - 1; i >= 0; i--) {
        if (proc->param_hashes[i] == hash && strcmp(proc->params[i], name) == 0) {
            c->param_index = i;
            return;
        }
    }
}

// Local (innermost frame) then global; parameter positions and the global are remembered
// in the node's cache.
[[gnu::always_inline]] inline Variable* find_variable_cached(ScriptEngine* e, const char* name, uint32_t hash, NameCache* c) {
    if (CallFrame* f = e->frame) {
        if (c->param_owner != f->procedure) learn_parameter(f->procedure, name, hash, c);
        if (c->param_index >= 0) return &f->params[c->param_index];
        if (f->locals.entry_count) {
            if (Variable* v = scope_find(&f->locals, name, hash)) return v;
        }
    }
    cache_sync(e, c);
    if (c->global) return c->global;
    if (c->globals_version == e->globals_version + 1) return nullptr;  // known to be absent
    Variable* v = scope_find(&e->globals, name, hash);
    c->global = v;
    if (!v) c->globals_version = e->globals_version + 1;
    return v;
}

// Reports an array index outside the array.
[[gnu::noinline, gnu::cold]] void index_out_of_range(ScriptEngine* e, const Variable* array, const Expr* index_expr,
                                                     int64_t index);

// A name that a LOCAL statement may have declared: the frame's locals, then the global.
[[gnu::noinline]] Variable* find_scoped_variable(ScriptEngine* e, const Expr* x);

// The variable a name node stands for, or null when there is none yet.
[[gnu::always_inline]] inline Variable* node_variable(ScriptEngine* e, const Expr* x) {
    if (x->scope == kScopeParameter) return &e->params[x->param_index];
    if (x->scope == kScopeGlobal) return slot_global(e, x->slot);
    return find_scoped_variable(e, x);
}

// A leaf that holds a number, read without a call; false for anything else (then
// nothing was evaluated).
[[gnu::always_inline]] inline bool leaf_number(ScriptEngine* e, const Expr* x, int64_t* n) {
    const Variable* v;
    switch (x->leaf) {
        case kLeafNumber: *n = x->number; return true;
        case kLeafParameter: v = &e->params[x->param_index]; break;
        case kLeafGlobal:
            v = x->slot->var;
            if (!v) return false;
            break;
        default: return false;
    }
    if (v->is_array || v->scalar.kind != kValueNumber) return false;
    *n = v->scalar.number;
    return true;
}

// A condition that is no numeric expression (or whose names were not numeric variables).
[[gnu::noinline]] bool eval_condition_general(ScriptEngine* e, const Expr* x, bool* out);

// A condition: a numeric one decided in place, anything else the general way.
[[gnu::always_inline]] inline bool test_condition(ScriptEngine* e, const Expr* x, bool* out) {
    if (x->numeric) {
        NumberResult r = x->numeric(e, x);
        if (r.status > 0) {
            *out = r.value != 0;
            return true;
        }
        if (r.status < 0) return false;
    }
    return eval_condition_general(e, x, out);
}

inline Procedure* find_procedure_cached(ScriptEngine* e, const char* name, NameCache* c) {
    cache_sync(e, c);
    if (!c->procedure_known) {
        c->procedure = find_procedure(e, name);
        c->procedure_known = true;
    }
    return c->procedure;
}

inline const BuiltinFunctionDescriptor* find_builtin_cached(ScriptEngine* e, const char* name, NameCache* c) {
    cache_sync(e, c);
    uint32_t epoch = function_registry_epoch() + 1;
    if (c->builtin_epoch != epoch) {
        c->builtin = find_function(name);
        c->builtin_epoch = epoch;
    }
    return c->builtin;
}

// Characters printed by PRINT since the last line feed (shared by all engines).
int64_t& print_column();

}  // namespace tarn
