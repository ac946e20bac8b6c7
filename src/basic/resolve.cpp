// Name resolution after parsing: every name node learns once where its variable lives
// (a parameter position, the program's slot for the global of that name, or the frame's
// LOCAL names first) so that the evaluator never searches for it by name on the way.
#include "basic/program.h"

#include "basic/functions.h"

#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

// The program's distinct names: slots kept in order of first use, found through an
// open-addressed table of their positions.
struct SlotTable {
    GlobalSlot** slots;
    int32_t count;
    int32_t capacity;
    int32_t* index;         // -1 for an empty place
    uint32_t index_size;    // a power of two, at least twice count
};

void place(SlotTable* t, int32_t position) {
    uint32_t mask = t->index_size - 1;
    uint32_t at = t->slots[position]->hash & mask;
    while (t->index[at] >= 0) at = (at + 1) & mask;
    t->index[at] = position;
}

void grow_index(SlotTable* t) {
    uint32_t size = t->index_size ? t->index_size * 2 : 64;
    release(t->index);
    t->index = xallocate_array<int32_t>(size);
    for (uint32_t i = 0; i < size; i++) t->index[i] = -1;
    t->index_size = size;
    for (int32_t i = 0; i < t->count; i++) place(t, i);
}

GlobalSlot* find_slot(const SlotTable* t, const char* name, uint32_t hash) {
    if (t->index_size) {
        uint32_t mask = t->index_size - 1;
        for (uint32_t at = hash & mask; t->index[at] >= 0; at = (at + 1) & mask) {
            GlobalSlot* g = t->slots[t->index[at]];
            if (g->hash == hash && strcmp(g->name, name) == 0) return g;
        }
    }
    return nullptr;
}

GlobalSlot* intern(SlotTable* t, const char* name, uint32_t hash) {
    if (GlobalSlot* g = find_slot(t, name, hash)) return g;
    if (static_cast<uint32_t>(t->count + 1) * 2 > t->index_size) grow_index(t);
    if (t->count == t->capacity) {
        int32_t capacity = t->capacity ? t->capacity * 2 : 16;
        t->slots = static_cast<GlobalSlot**>(xresize(t->slots, static_cast<uint64_t>(capacity) * sizeof(GlobalSlot*)));
        t->capacity = capacity;
    }
    GlobalSlot* g = static_cast<GlobalSlot*>(xallocate_zeroed(1, sizeof(GlobalSlot)));
    g->name = xstrdup(name);
    g->hash = hash;
    t->slots[t->count] = g;
    place(t, t->count++);
    return g;
}

// The names a procedure's LOCAL statements declare, anywhere in its body.
struct LocalNames {
    const char** names;
    int32_t count;
    int32_t capacity;
};

void collect_locals(const StatementList* list, LocalNames* out);

void collect_statement_locals(const Statement* s, LocalNames* out) {
    if (s->kind == kStmtLocal) {
        for (int32_t i = 0; i < s->arg_count; i++) {
            if (out->count == out->capacity) {
                int32_t capacity = out->capacity ? out->capacity * 2 : 8;
                out->names = static_cast<const char**>(
                    xresize(out->names, static_cast<uint64_t>(capacity) * sizeof(const char*)));
                out->capacity = capacity;
            }
            out->names[out->count++] = s->args[i]->name;
        }
    }
    for (int32_t i = 0; i < s->branch_count; i++) collect_locals(&s->branches[i].body, out);
    for (int32_t i = 0; i < s->case_count; i++) collect_locals(&s->cases[i].body, out);
    collect_locals(&s->body, out);
}

void collect_locals(const StatementList* list, LocalNames* out) {
    for (int32_t i = 0; i < list->count; i++) collect_statement_locals(list->items[i], out);
}

struct Context {
    SlotTable* table;
    const Procedure* procedure;  // null in the main program
    const LocalNames* locals;
    const SlotTable* procedures; // the names of the program's procedures
};

// As the evaluator's search would find it: parameters (the last of equal names), then
// the LOCAL names, then the global.
void classify(const Context* c, const char* name, uint32_t hash, NameScope* scope, int32_t* param_index) {
    *scope = kScopeGlobal;
    *param_index = -1;
    const Procedure* proc = c->procedure;
    if (!proc) return;
    for (int32_t i = proc->param_count - 1; i >= 0; i--) {
        if (proc->param_hashes[i] == hash && strcmp(proc->params[i], name) == 0) {
            *scope = kScopeParameter;
            *param_index = i;
            return;
        }
    }
    for (int32_t i = 0; i < c->locals->count; i++) {
        if (strcmp(c->locals->names[i], name) == 0) {
            *scope = kScopeLocal;
            return;
        }
    }
}

void resolve_expr(const Context* c, Expr* x) {
    if (!x) return;
    if (x->name) {
        x->slot = intern(c->table, x->name, x->hash);
        classify(c, x->name, x->hash, &x->scope, &x->param_index);
        // A built-in function's or a procedure's name is called unless a variable of that
        // name exists.
        GlobalSlot* g = x->slot;
        if (!g->builtin_known) {
            g->builtin_known = true;
            g->builtin_name = find_function(x->name) != nullptr;
        }
        x->callable = g->builtin_name || find_slot(c->procedures, x->name, x->hash);
    }
    resolve_expr(c, x->left);
    resolve_expr(c, x->right);
    for (int32_t i = 0; i < x->arg_count; i++) resolve_expr(c, x->args[i]);
    prepare_expr(x);
}

void resolve_list(const Context* c, StatementList* list);

void resolve_statement(const Context* c, Statement* s) {
    if (s->kind == kStmtFor) {
        s->slot = intern(c->table, s->name, s->hash);
        classify(c, s->name, s->hash, &s->scope, &s->param_index);
    }
    for (Expr* x : s->expr) resolve_expr(c, x);
    for (int32_t i = 0; i < s->arg_count; i++) resolve_expr(c, s->args[i]);
    for (int32_t i = 0; i < s->branch_count; i++) {
        resolve_expr(c, s->branches[i].condition);
        resolve_list(c, &s->branches[i].body);
    }
    for (int32_t i = 0; i < s->case_count; i++) {
        for (int32_t k = 0; k < s->cases[i].item_count; k++) resolve_expr(c, s->cases[i].items[k]);
        resolve_list(c, &s->cases[i].body);
    }
    resolve_list(c, &s->body);
    prepare_statement(s);
}

void resolve_list(const Context* c, StatementList* list) {
    for (int32_t i = 0; i < list->count; i++) resolve_statement(c, list->items[i]);
}

}  // namespace

void resolve_names(Program* program) {
    SlotTable table{};
    LocalNames none{};
    SlotTable procedures{};
    for (Procedure* p = program->procedures; p; p = p->next) intern(&procedures, p->name, name_hash(p->name));
    Context main{&table, nullptr, &none, &procedures};
    resolve_list(&main, &program->main);
    for (Procedure* p = program->procedures; p; p = p->next) {
        LocalNames locals{};
        collect_locals(&p->body, &locals);
        Context c{&table, p, &locals, &procedures};
        resolve_list(&c, &p->body);
        release(locals.names);
    }
    release(table.index);
    release(procedures.index);
    for (int32_t i = 0; i < procedures.count; i++) {
        release(procedures.slots[i]->name);
        release(procedures.slots[i]);
    }
    release(procedures.slots);
    program->slots = table.slots;
    program->slot_count = table.count;
    program->bound_engine = 0;
}

void bind_program(Program* program, uint64_t engine_id) {
    if (program->bound_engine == engine_id) return;
    for (int32_t i = 0; i < program->slot_count; i++) {
        GlobalSlot* g = program->slots[i];
        g->var = nullptr;
        g->absent_version = 0;
        g->function_key = 0;
        g->function_epoch = 0;
        g->names_function = false;
    }
    program->bound_engine = engine_id;
}

void free_slots(Program* program) {
    for (int32_t i = 0; i < program->slot_count; i++) {
        release(program->slots[i]->name);
        release(program->slots[i]);
    }
    release(program->slots);
    program->slots = nullptr;
    program->slot_count = 0;
}

}  // namespace tarn
