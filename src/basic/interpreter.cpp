// The statement executor, procedure calls, RUN, and the interpreter's entry points.
#include "basic/engine.h"
#include "basic/engine_internal.h"
#include "basic/functions.h"
#include "basic/lexer.h"

#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/executor.h"
#include "shell/hooks.h"
#include "shell/line_editor.h"
#include "shell/session_state.h"

namespace tarn {

namespace {

constexpr int32_t kMaxScriptDepth = 32;
constexpr int32_t kPrintZone = 14;
// Statements between two break checks in a statement list. The check itself looks at the
// keyboard at most every 50 ms, so testing it on every statement only costs time.
constexpr int32_t kBreakInterval = 31;

// The shell's 1 MiB stack less room for the shell below the first interpreter entry and
// for the commands that RUN starts at the deepest point.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kDefaultStackBudget = 768 * 1024 * 4;  // instrumented frames are larger
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr uint64_t kDefaultStackBudget = 768 * 1024 * 4;
#else
constexpr uint64_t kDefaultStackBudget = 768 * 1024;
#endif
#else
constexpr uint64_t kDefaultStackBudget = 768 * 1024;
#endif

struct InterpreterState {
    int64_t print_column;
    uintptr_t stack_base;       // frame address at the outermost interpreter entry
    int32_t stack_users;        // interpreter entries active on the stack
    uint64_t stack_budget;
    uint64_t resolve_counter;
};

constinit InterpreterState g_basic = {0, 0, 0, kDefaultStackBudget, 0};

// Marks an interpreter entry: the outermost one fixes the stack base.
class StackEntry {
public:
    StackEntry() {
        if (g_basic.stack_users++ == 0)
            g_basic.stack_base = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    }
    ~StackEntry() { g_basic.stack_users--; }
    StackEntry(const StackEntry&) = delete;
    StackEntry& operator=(const StackEntry&) = delete;
};

inline ExecResult failed(const ScriptEngine* e) {
    return (e->end_requested && !e->error_pending) ? kExecEnd : kExecError;
}

ExecResult exec_list(ScriptEngine* e, const StatementList* list);
bool check_break(ScriptEngine* e, int32_t line);

// A statement list, run in place when it has no labels (a GOTO then always leaves it);
// with labels through exec_list.
[[gnu::always_inline]] inline ExecResult run_block(ScriptEngine* e, const StatementList* list) {
    if (list->label_count) [[unlikely]] return exec_list(e, list);
    Statement* const* end = list->items + list->count;
    for (Statement* const* p = list->items; p != end; p++) {
        const Statement* s = *p;
        if (--e->break_countdown < 0) [[unlikely]] {
            e->break_countdown = kBreakInterval;
            if (!check_break(e, s->line)) return kExecError;
        }
        ExecResult r = s->exec(e, s);
        if (r != kExecDone) return r;
    }
    return kExecDone;
}

bool check_break(ScriptEngine* e, int32_t line) {
    if (!poll_break()) return true;
    if (!e->error_pending) e->interrupted = true;
    return engine_error(e, line, "interrupted (Ctrl-C)");
}

// The break check at the end of a WHILE or DO pass, on the statements' countdown (an
// empty body still counts).
[[gnu::always_inline]] inline bool loop_break_check(ScriptEngine* e, int32_t line) {
    if (--e->break_countdown >= 0) return true;
    e->break_countdown = kBreakInterval;
    return check_break(e, line);
}

// ---- output ----

void advance_column(const char* bytes, uint64_t n) {
    int64_t column = g_basic.print_column;
    for (uint64_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') column = 0;
        else if ((c & 0xC0) != 0x80) column++;
    }
    g_basic.print_column = column;
}

void print_bytes(const char* bytes, uint64_t n) {
    out_write(bytes, n);
    advance_column(bytes, n);
}

void print_value(const Value& v) {
    char scratch[24];
    uint64_t n;
    const char* text = value_text(v, scratch, &n);
    print_bytes(text, n);
}

[[gnu::noinline]] ExecResult exec_print(ScriptEngine* e, const Statement* s) {
    char last = 0;
    for (int32_t i = 0; i < s->arg_count; i++) {
        Value v;
        if (!eval(e, s->args[i], &v)) return failed(e);
        print_value(v);
        value_release(v);
        last = s->separators[i];
        if (last == ',') {
            static constexpr char kSpaces[] = "              ";
            int64_t pad = kPrintZone - (g_basic.print_column % kPrintZone);
            print_bytes(kSpaces, static_cast<uint64_t>(pad));
        }
    }
    if (last == 0) print_bytes("\n", 1);
    return kExecDone;
}

// ---- INPUT ----

[[gnu::noinline]] ExecResult exec_input(ScriptEngine* e, const Statement* s) {
    char prompt_scratch[24];
    const char* prompt = "? ";
    Value pv = number_value(0);
    if (s->expr[0]) {
        if (!eval(e, s->expr[0], &pv)) return failed(e);
        uint64_t n;
        prompt = value_text(pv, prompt_scratch, &n);
    }
    const Expr* target = s->expr[1];
    ExecResult result = kExecDone;
    for (;;) {
        char* line = read_line(prompt, false);
        g_basic.print_column = 0;
        if (!line) {
            engine_error(e, s->line, "input cancelled");
            result = failed(e);
            break;
        }
        uint64_t n = strlen(line);
        if (target->string_name) {
            bool ok = assign(e, target, string_value(new_string(line, n)));
            release(line);
            if (!ok) result = failed(e);
            break;
        }
        int64_t number;
        bool valid = text_to_number(line, n, &number);
        release(line);
        if (valid) {
            if (!assign(e, target, number_value(number))) result = failed(e);
            break;
        }
        out_text("please enter a number\n");
    }
    value_release(pv);
    return result;
}

// ---- loops ----

// The loop variable of a FOR statement, or null when there is none yet.
[[gnu::always_inline]] inline Variable* loop_variable(ScriptEngine* e, const Statement* s) {
    if (s->scope == kScopeParameter) return &e->params[s->param_index];
    if (s->scope == kScopeGlobal) return slot_global(e, s->slot);
    return find_variable_cached(e, s->name, s->hash, &s->cache);
}

[[gnu::noinline, gnu::cold]] ExecResult loop_variable_is_array(ScriptEngine* e, const Statement* s) {
    engine_error(e, s->line, "%s is an array", s->name);
    return failed(e);
}

[[gnu::noinline]] ExecResult exec_for(ScriptEngine* e, const Statement* s) {
    int64_t start, limit, step = 1;
    if (!eval_number(e, s->expr[0], &start) || !eval_number(e, s->expr[1], &limit)) return failed(e);
    if (s->expr[2] && !eval_number(e, s->expr[2], &step)) return failed(e);
    if (step == 0) {
        engine_error(e, s->line, "FOR with STEP 0");
        return failed(e);
    }
    if (find_builtin_cached(e, s->name, &s->cache)) {
        engine_error(e, s->line, "%s is the name of a built-in function", s->name);
        return failed(e);
    }
    Variable* var = loop_variable(e, s);
    if (!var) {
        var = create_global(e, s->name, s->hash, s->slot);
    }
    if (var->is_array) return loop_variable_is_array(e, s);
    var->scalar = number_value(start);
    // A global or a parameter stays where it is while the body runs (the body may turn it
    // into an array, which is looked at each time); a name that LOCAL may declare is
    // looked up again each time.
    bool fixed = s->scope != kScopeLocal;
    for (;;) {
        if (!fixed) var = loop_variable(e, s);
        if (var->is_array) return loop_variable_is_array(e, s);
        int64_t value = var->scalar.number;
        if (step > 0 ? value > limit : value < limit) break;
        ExecResult r = run_block(e, &s->body);
        if (r == kExecExitFor) break;
        if (r != kExecDone && r != kExecContinueFor) return r;
        if (!fixed) var = loop_variable(e, s);
        if (var->is_array) return loop_variable_is_array(e, s);
        int64_t next;
        if (__builtin_add_overflow(var->scalar.number, step, &next)) break;
        var->scalar.number = next;
    }
    return kExecDone;
}

[[gnu::noinline]] ExecResult exec_while(ScriptEngine* e, const Statement* s) {
    for (;;) {
        bool c;
        if (!test_condition(e, s->expr[0], &c)) return failed(e);
        if (!c) return kExecDone;
        ExecResult r = run_block(e, &s->body);
        if (r == kExecExitWhile) return kExecDone;
        if (r != kExecDone && r != kExecContinueWhile) return r;
        if (!loop_break_check(e, s->line)) return failed(e);
    }
}

[[gnu::noinline]] ExecResult exec_do(ScriptEngine* e, const Statement* s) {
    for (;;) {
        bool c;
        if (s->flags & (kDoWhile | kDoUntil)) {
            if (!test_condition(e, s->expr[0], &c)) return failed(e);
            if ((s->flags & kDoWhile) ? !c : c) return kExecDone;
        }
        ExecResult r = run_block(e, &s->body);
        if (r == kExecExitDo) return kExecDone;
        if (r != kExecDone && r != kExecContinueDo) return r;
        if (s->flags & (kLoopWhile | kLoopUntil)) {
            if (!test_condition(e, s->expr[0], &c)) return failed(e);
            if ((s->flags & kLoopWhile) ? !c : c) return kExecDone;
        }
        if (!loop_break_check(e, s->line)) return failed(e);
    }
}

// ---- SELECT CASE ----

bool case_value(ScriptEngine* e, const Expr* x, const Value& selector, Value* out) {
    if (!eval(e, x, out)) return false;
    if (out->kind != selector.kind) {
        value_release(*out);
        return engine_error(e, x->line, "CASE value type does not match SELECT");
    }
    return true;
}

// A CASE value for a numeric selector: literals directly, anything else evaluated.
[[gnu::always_inline]] inline bool case_number(ScriptEngine* e, const Expr* x, int64_t* out) {
    if (x->kind == kExprNumber) {
        *out = x->number;
        return true;
    }
    Value v;
    if (!eval(e, x, &v)) return false;
    if (v.kind != kValueNumber) {
        value_release(v);
        return engine_error(e, x->line, "CASE value type does not match SELECT");
    }
    *out = v.number;
    return true;
}

inline int order(int64_t a, int64_t b) { return (a > b) - (a < b); }

// A CASE IS relation (=, <>, <, >, <=, >=) over the order of the selector and the value.
bool relation_holds(int op, int c) {
    switch (op) {
        case kTokEq: return c == 0;
        case kTokNe: return c != 0;
        case kTokLt: return c < 0;
        case kTokGt: return c > 0;
        case kTokLe: return c <= 0;
        default: return c >= 0;
    }
}

// As case_item_matches, for a numeric selector: no values are built for numbers.
int case_item_matches_number(ScriptEngine* e, const Expr* item, int64_t sel) {
    int64_t a, b;
    if (item->kind == kExprBinary && item->op == kTokTo) {
        if (!case_number(e, item->left, &a) || !case_number(e, item->right, &b)) return -1;
        return a <= sel && sel <= b ? 1 : 0;
    }
    if (item->kind == kExprBinary && !item->left) {
        if (!case_number(e, item->right, &a)) return -1;
        int c = order(sel, a);
        return relation_holds(item->op, c) ? 1 : 0;
    }
    if (!case_number(e, item, &a)) return -1;
    return a == sel ? 1 : 0;
}

// 1 matched, 0 not, -1 error.
int case_item_matches(ScriptEngine* e, const Expr* item, const Value& sel) {
    if (sel.kind == kValueNumber) return case_item_matches_number(e, item, sel.number);
    if (item->kind == kExprBinary && item->op == kTokTo) {
        Value lo, hi;
        if (!case_value(e, item->left, sel, &lo)) return -1;
        if (!case_value(e, item->right, sel, &hi)) {
            value_release(lo);
            return -1;
        }
        bool m = compare(lo, sel) <= 0 && compare(sel, hi) <= 0;
        value_release(lo);
        value_release(hi);
        return m ? 1 : 0;
    }
    if (item->kind == kExprBinary && !item->left) {
        Value x;
        if (!case_value(e, item->right, sel, &x)) return -1;
        int c = compare(sel, x);
        value_release(x);
        return relation_holds(item->op, c) ? 1 : 0;
    }
    Value v;
    if (!case_value(e, item, sel, &v)) return -1;
    bool m = compare(v, sel) == 0;
    value_release(v);
    return m ? 1 : 0;
}

[[gnu::noinline]] ExecResult exec_select(ScriptEngine* e, const Statement* s) {
    Value sel;
    if (!eval(e, s->expr[0], &sel)) return failed(e);
    ExecResult result = kExecDone;
    for (int32_t i = 0; i < s->case_count; i++) {
        const SelectCase* c = &s->cases[i];
        int matched = c->is_else ? 1 : 0;
        for (int32_t k = 0; k < c->item_count && matched == 0; k++) matched = case_item_matches(e, c->items[k], sel);
        if (matched < 0) {
            result = failed(e);
            break;
        }
        if (matched) {
            result = exec_list(e, &c->body);
            break;
        }
    }
    value_release(sel);
    return result;
}

// ---- calls ----

[[gnu::noinline]] ExecResult exec_call(ScriptEngine* e, const Statement* s) {
    if (Procedure* proc = find_procedure_cached(e, s->name, &s->cache)) {
        if (!call_procedure(e, proc, s->args, s->arg_count, s->line, nullptr)) return failed(e);
        return kExecDone;
    }
    if (const BuiltinFunctionDescriptor* row = find_builtin_cached(e, s->name, &s->cache)) {
        Expr call;
        memset(&call, 0, sizeof call);
        call.kind = kExprCall;
        call.line = s->line;
        call.name = s->name;
        call.hash = s->hash;
        call.args = s->args;
        call.arg_count = s->arg_count;
        Value result;
        if (!call_builtin(e, row, &call, s->args, s->arg_count, &result)) return failed(e);
        value_release(result);
        return kExecDone;
    }
    if (s->arg_count == 0 && lookup_variable(e, s->name)) {
        engine_error(e, s->line, "%s is a variable: did you mean to assign it (%s = ...)?", s->name, s->name);
        return failed(e);
    }
    engine_error(e, s->line, "unknown statement or SUB: %s (to run a shell command use RUN \"%s ...\")", s->name,
                 s->name);
    return failed(e);
}

// RETURN value in a FUNCTION body (which only runs inside a call).
ExecResult exec_function_return(ScriptEngine* e, const Statement* s) {
    CallFrame* frame = e->frame;
    if (frame->has_result) [[unlikely]] {
        value_release(frame->result);
        frame->has_result = false;
    }
    // Straight into the frame (deeper calls have frames of their own); without
    // has_result a failure leaves nothing to release.
    const Expr* x = s->expr[0];
    if (!x->run(e, x, &frame->result)) return failed(e);
    frame->has_result = true;
    return kExecReturn;
}

[[gnu::noinline]] ExecResult exec_return(ScriptEngine* e, const Statement* s) {
    if (!e->frame) {
        engine_error(e, s->line, "RETURN outside of SUB or FUNCTION");
        return failed(e);
    }
    if (!s->expr[0]) return kExecReturn;
    if (!(s->flags & kReturnInFunction)) {
        engine_error(e, s->line, "a SUB cannot return a value");
        return failed(e);
    }
    Value v;
    if (!eval(e, s->expr[0], &v)) return failed(e);
    CallFrame* frame = e->frame;
    if (frame->has_result) value_release(frame->result);
    move_value(&frame->result, &v);
    frame->has_result = true;
    return kExecReturn;
}

// ---- console statements ----

[[gnu::noinline]] ExecResult exec_color(ScriptEngine* e, const Statement* s) {
    if (s->arg_count == 0) {
        reset_colour();
        return kExecDone;
    }
    int64_t fg, bg = (console_attribute() >> 4) & 7;
    if (!eval_number(e, s->args[0], &fg)) return failed(e);
    if (s->arg_count > 1 && !eval_number(e, s->args[1], &bg)) return failed(e);
    if (fg < 0 || fg > 15 || bg < 0 || bg > 7) {
        engine_error(e, s->line, "COLOR: foreground 0-15, background 0-7");
        return failed(e);
    }
    set_colour(static_cast<int>(fg), static_cast<int>(bg));
    return kExecDone;
}

[[gnu::noinline]] ExecResult exec_locate(ScriptEngine* e, const Statement* s) {
    int64_t row, column;
    if (!eval_number(e, s->args[0], &row) || !eval_number(e, s->args[1], &column)) return failed(e);
    if (!is_redirected() && row >= 1 && column >= 1) {
        console_set_cursor(static_cast<uint64_t>(column - 1), static_cast<uint64_t>(row - 1));
        g_basic.print_column = column - 1;
    }
    return kExecDone;
}

[[gnu::noinline]] ExecResult exec_pause(ScriptEngine* e, const Statement* s) {
    char scratch[24];
    Value v = number_value(0);
    const char* message = nullptr;
    if (s->arg_count > 0) {
        if (!eval(e, s->args[0], &v)) return failed(e);
        uint64_t n;
        message = value_text(v, scratch, &n);
    }
    bool ok = press_any_key(message);
    value_release(v);
    g_basic.print_column = 0;
    if (!ok && poll_break()) {
        e->interrupted = !e->error_pending;
        engine_error(e, s->line, "interrupted (Ctrl-C)");
        return failed(e);
    }
    return kExecDone;
}

[[gnu::noinline]] ExecResult exec_sleep(ScriptEngine* e, const Statement* s) {
    int64_t ms;
    if (!eval_number(e, s->args[0], &ms)) return failed(e);
    if (ms < 0) ms = 0;
    if (!sleep_interruptible(static_cast<uint64_t>(ms)) && !check_break(e, s->line)) return failed(e);
    return kExecDone;
}

[[gnu::noinline]] ExecResult exec_assign(ScriptEngine* e, const Statement* s) {
    if (s->flags & kAssignAppends) return assign_append(e, s->expr[0], s->expr[1]) ? kExecDone : failed(e);
    Value v;
    if (!eval(e, s->expr[1], &v)) return failed(e);
    // A scalar that exists and takes this kind of value is stored into directly; every
    // other case (and every error) goes through assign.
    const Expr* target = s->expr[0];
    if (target->string_name == (v.kind == kValueString)) {
        Variable* var = node_variable(e, target);
        if (target->kind == kExprName) {
            if (var && !var->is_array && !slot_names_function(e, target->slot)) {
                value_release(var->scalar);
                move_value(&var->scalar, &v);
                return kExecDone;
            }
        } else if (var && var->is_array) {
            Value* slot = element(e, var, target->args[0]);
            if (!slot) {
                value_release(v);
                return failed(e);
            }
            value_release(*slot);
            move_value(slot, &v);
            return kExecDone;
        }
    }
    if (!assign(e, target, v)) return failed(e);
    return kExecDone;
}

// The rest of exec_assign_number, with what the value's routine gave.
[[gnu::noinline]] ExecResult assign_number_general(ScriptEngine* e, const Statement* s, NumberResult r) {
    if (r.status == 0) return exec_assign(e, s);
    if (r.status < 0) return failed(e);
    const Expr* target = s->expr[0];
    Variable* var = node_variable(e, target);
    if (var && !var->is_array && var->scalar.kind == kValueNumber && !slot_names_function(e, target->slot)) {
        var->scalar.number = r.value;
        return kExecDone;
    }
    return assign(e, target, number_value(r.value)) ? kExecDone : failed(e);
}

// name = numeric expression, for a numeric name: a global or parameter that holds a
// number is stored into here, everything else is left to assign_number_general.
ExecResult exec_assign_number(ScriptEngine* e, const Statement* s) {
    const Expr* value = s->expr[1];
    NumberResult r = value->numeric(e, value);
    const Expr* target = s->expr[0];
    Variable* var;
    if (target->scope == kScopeGlobal) var = target->slot->var;
    else if (target->scope == kScopeParameter) var = &e->params[target->param_index];
    else var = nullptr;
    const GlobalSlot* slot = target->slot;
    if (r.status > 0 && var && !var->is_array && var->scalar.kind == kValueNumber &&
        slot->function_key == e->resolve_key && slot->function_epoch == function_registry_epoch() + 1 &&
        !slot->names_function) [[likely]] {
        var->scalar.number = r.value;
        return kExecDone;
    }
    return assign_number_general(e, s, r);
}

// The rest of exec_assign_element, with what the value's routine gave.
[[gnu::noinline]] ExecResult assign_element_general(ScriptEngine* e, const Statement* s, NumberResult r) {
    if (r.status == 0) return exec_assign(e, s);
    if (r.status < 0) return failed(e);
    int64_t n = r.value;
    const Expr* target = s->expr[0];
    Variable* var = node_variable(e, target);
    const Expr* index_expr = target->args[0];
    NumberResult at = var && var->is_array ? index_expr->numeric(e, index_expr) : NumberResult{0, 0};
    if (at.status < 0) return failed(e);
    if (at.status == 0) return assign(e, target, number_value(n)) ? kExecDone : failed(e);
    int64_t index = at.value;
    if (index < 0 || index >= var->count) {
        index_out_of_range(e, var, index_expr, index);
        return failed(e);
    }
    Value* slot = &var->elements[index];
    value_release(*slot);
    *slot = number_value(n);
    return kExecDone;
}

// name(index) = numeric expression, for a numeric array and a numeric index: a global
// array at an index in range is stored into here, everything else is left to
// assign_element_general.
ExecResult exec_assign_element(ScriptEngine* e, const Statement* s) {
    const Expr* value = s->expr[1];
    NumberResult r = value->numeric(e, value);
    const Expr* target = s->expr[0];
    Variable* var = target->scope == kScopeGlobal ? target->slot->var : nullptr;
    if (r.status > 0 && var && var->is_array) [[likely]] {
        const Expr* index_expr = target->args[0];
        NumberResult at = index_expr->numeric(e, index_expr);
        if (at.status > 0 && at.value >= 0 && at.value < var->count) [[likely]] {
            Value* slot = &var->elements[at.value];
            if (slot->kind == kValueNumber) [[likely]] {
                slot->number = r.value;
                return kExecDone;
            }
        }
        if (at.status < 0) return failed(e);
    }
    return assign_element_general(e, s, r);
}


[[gnu::noinline]] ExecResult exec_if(ScriptEngine* e, const Statement* s) {
    const IfBranch* end = s->branches + s->branch_count;
    for (const IfBranch* b = s->branches; b != end; b++) {
        if (b->condition) {
            bool take;
            if (!test_condition(e, b->condition, &take)) return failed(e);
            if (!take) continue;
        }
        return run_block(e, &b->body);
    }
    return kExecDone;
}

// IF condition THEN statement, without ELSE: the usual single-line IF.
ExecResult exec_if_single(ScriptEngine* e, const Statement* s) {
    const IfBranch* b = s->branches;
    bool take;
    if (!test_condition(e, b->condition, &take)) return failed(e);
    if (!take) return kExecDone;
    const Statement* then = b->body.items[0];
    return then->exec(e, then);
}

// As exec_if_single, for a condition that compares a leaf with a number literal.
template <int32_t Op>
ExecResult exec_if_compare(ScriptEngine* e, const Statement* s) {
    const IfBranch* b = s->branches;
    const Expr* c = b->condition;
    int64_t a;
    bool take;
    if (leaf_number(e, c->left, &a)) {
        int64_t k = c->right->number;
        switch (Op) {
            case kTokEq: take = a == k; break;
            case kTokNe: take = a != k; break;
            case kTokLt: take = a < k; break;
            case kTokGt: take = a > k; break;
            case kTokLe: take = a <= k; break;
            default: take = a >= k; break;
        }
    } else if (!test_condition(e, c, &take)) {
        return failed(e);
    }
    if (!take) return kExecDone;
    const Statement* then = b->body.items[0];
    return then->exec(e, then);
}

ExecFn single_if_routine(const Expr* c) {
    if (c->kind != kExprBinary || !c->left || !c->right || c->left->leaf == kLeafOther ||
        c->right->leaf != kLeafNumber)
        return exec_if_single;
    switch (c->op) {
        case kTokEq: return exec_if_compare<kTokEq>;
        case kTokNe: return exec_if_compare<kTokNe>;
        case kTokLt: return exec_if_compare<kTokLt>;
        case kTokGt: return exec_if_compare<kTokGt>;
        case kTokLe: return exec_if_compare<kTokLe>;
        case kTokGe: return exec_if_compare<kTokGe>;
        default: return exec_if_single;
    }
}

[[gnu::noinline]] ExecResult exec_end(ScriptEngine* e, const Statement* s) {
    int64_t code = 0;
    if (s->expr[0] && !eval_number(e, s->expr[0], &code)) return failed(e);
    e->end_requested = true;
    e->end_code = static_cast<int32_t>(static_cast<uint32_t>(code));
    return kExecEnd;
}

[[gnu::noinline]] ExecResult exec_other(ScriptEngine* e, const Statement* s) {
    switch (s->kind) {
        case kStmtDim:
        case kStmtLocal:
            if (!declare(e, s, s->kind == kStmtLocal)) return failed(e);
            return kExecDone;
        case kStmtRun:
            if (!run_command(e, s->line, s->args, s->arg_count, s->flags, s->expr[0], nullptr)) return failed(e);
            return kExecDone;
        case kStmtCls:
            if (!is_redirected()) {
                console_clear();
                g_basic.print_column = 0;
            }
            return kExecDone;
        case kStmtDefinition: return kExecDone;
        default:
            engine_error(e, s->line, "internal error: not a statement");
            return kExecError;
    }
}

ExecResult exec_exit(ScriptEngine* e, const Statement* s) {
    e->flow_line = s->line;
    return s->sub_kind == kTokFor ? kExecExitFor : s->sub_kind == kTokWhile ? kExecExitWhile : kExecExitDo;
}

ExecResult exec_continue(ScriptEngine* e, const Statement* s) {
    e->flow_line = s->line;
    return s->sub_kind == kTokFor     ? kExecContinueFor
           : s->sub_kind == kTokWhile ? kExecContinueWhile
                                      : kExecContinueDo;
}

ExecResult exec_goto(ScriptEngine* e, const Statement* s) {
    e->goto_label = s->name;
    e->flow_line = s->line;
    return kExecGoto;
}

// The routine of each statement, by its kind and for some kinds its shape.
ExecFn exec_routine(const Statement* s) {
    switch (s->kind) {
        case kStmtAssign: {
            const Expr* target = s->expr[0];
            if (!s->expr[1]->numeric || target->string_name || (s->flags & kAssignAppends)) return exec_assign;
            if (target->kind == kExprName) return exec_assign_number;
            if (target->arg_count == 1 && target->args[0]->numeric) return exec_assign_element;
            return exec_assign;
        }
        case kStmtPrint: return exec_print;
        case kStmtIf:
            if (s->branch_count == 1 && s->branches[0].condition && s->branches[0].body.count == 1 &&
                s->branches[0].body.label_count == 0)
                return single_if_routine(s->branches[0].condition);
            return exec_if;
        case kStmtFor: return exec_for;
        case kStmtWhile: return exec_while;
        case kStmtDo: return exec_do;
        case kStmtSelect: return exec_select;
        case kStmtCall: return exec_call;
        case kStmtReturn: return (s->flags & kReturnInFunction) && s->expr[0] ? exec_function_return : exec_return;
        case kStmtInput: return exec_input;
        case kStmtExit: return exec_exit;
        case kStmtContinue: return exec_continue;
        case kStmtGoto: return exec_goto;
        case kStmtEnd: return exec_end;
        case kStmtColor: return exec_color;
        case kStmtLocate: return exec_locate;
        case kStmtPause: return exec_pause;
        case kStmtSleep: return exec_sleep;
        default: return exec_other;  // DIM, LOCAL, RUN, CLS, definitions
    }
}

int32_t find_label(const StatementList* list, const char* name) {
    for (int32_t i = 0; i < list->label_count; i++)
        if (strcmp(list->labels[i].name, name) == 0) return list->labels[i].index;
    return -1;
}

ExecResult exec_list(ScriptEngine* e, const StatementList* list) {
    int32_t i = 0;
    while (i < list->count) {
        const Statement* s = list->items[i];
        if (--e->break_countdown < 0) {
            e->break_countdown = kBreakInterval;
            if (!check_break(e, s->line)) return kExecError;
        }
        ExecResult r = s->exec(e, s);
        if (r == kExecDone) {
            i++;
            continue;
        }
        if (r == kExecGoto) {
            int32_t target = find_label(list, e->goto_label);
            if (target >= 0) {
                i = target;
                continue;
            }
        }
        return r;
    }
    return kExecDone;
}

// ---- procedures ----

bool valid_procedures(ScriptEngine* e, Procedure** defined, int32_t n) {
    for (int32_t i = 0; i < n; i++) {
        Procedure* p = defined[i];
        if (find_function(p->name))
            return engine_error(e, p->line, "%s is a built-in function and cannot be redefined", p->name);
        for (int32_t k = 0; k < p->param_count; k++)
            if (find_function(p->params[k]))
                return engine_error(e, p->line, "parameter %s of %s has the name of a built-in function",
                                    p->params[k], p->name);
        if (!e->interactive && find_procedure(e, p->name))
            return engine_error(e, p->line, "%s is defined twice", p->name);
    }
    return true;
}

void add_procedure(ScriptEngine* e, Procedure* p) {
    bool replaced = false;
    for (Procedure*& known : e->procedures) {
        if (strcmp(known->name, p->name) == 0) {
            known = p;
            replaced = true;
        }
    }
    if (replaced) return;
    e->procedures.push(p);
}

// Registers the program's procedures (all or none). *registered tells whether any were.
bool register_procedures(ScriptEngine* e, Program* program, bool* registered) {
    *registered = false;
    int32_t n = 0;
    for (Procedure* p = program->procedures; p; p = p->next) n++;
    if (n == 0) return true;
    Procedure** defined = static_cast<Procedure**>(xallocate(static_cast<uint64_t>(n) * sizeof(Procedure*)));
    int32_t k = n;
    for (Procedure* p = program->procedures; p; p = p->next) defined[--k] = p;  // source order
    bool ok = valid_procedures(e, defined, n);
    if (ok) {
        for (int32_t i = 0; i < n; i++) add_procedure(e, defined[i]);
        e->resolve_key = next_resolve_key();
        *registered = true;
    }
    release(defined);
    return ok;
}

void print_runtime_error(ScriptEngine* e) {
    if (e->script_path && !e->interactive)
        print_error("%s:%d: error: %s\n", e->script_path, e->error_line, e->error_message);
    else if (e->error_line >= 2)
        print_error("line %d: error: %s\n", e->error_line, e->error_message);
    else
        print_error("error: %s\n", e->error_message);
}

int finish_run(ScriptEngine* e, ExecResult r) {
    switch (r) {
        case kExecGoto: engine_error(e, e->flow_line, "label %s not found", e->goto_label); break;
        case kExecExitFor:
        case kExecExitWhile:
        case kExecExitDo:
        case kExecContinueFor:
        case kExecContinueWhile:
        case kExecContinueDo: engine_error(e, e->flow_line, "EXIT/CONTINUE outside of a loop"); break;
        case kExecReturn: engine_error(e, e->flow_line, "RETURN outside of SUB or FUNCTION"); break;
        default: break;
    }
    if (e->error_pending) {
        bool interrupted = e->interrupted;
        print_runtime_error(e);
        e->error_pending = false;
        e->error_message[0] = 0;
        e->error_line = 0;
        e->interrupted = false;
        clear_break();
        e->frame = nullptr;
        e->params = nullptr;
        e->call_depth = 0;
        return interrupted ? 130 : 1;
    }
    return e->end_requested ? e->end_code : 0;
}

int run_program(ScriptEngine* e, Program* program, const char* script_path, bool* registered) {
    StackEntry entry;
    e->script_path = script_path;
    e->goto_label = nullptr;
    bind_program(program, e->engine_id);
    if (!register_procedures(e, program, registered)) return finish_run(e, kExecError);
    return finish_run(e, exec_list(e, &program->main));
}

char* value_to_text(const Value& v) {
    char scratch[24];
    uint64_t n;
    const char* t = value_text(v, scratch, &n);
    return xstrndup(t, n);
}

void free_words(char** words, int32_t n) {
    for (int32_t i = 0; i < n; i++) release(words[i]);
    release(words);
}

const char* token_word(const Lexer* lx) { return lx->token.text ? lx->token.text : ""; }

}  // namespace

void prepare_statement(Statement* s) { s->exec = exec_routine(s); }

int64_t& print_column() { return g_basic.print_column; }

uint64_t next_resolve_key() { return ++g_basic.resolve_counter; }

uint64_t set_stack_budget(uint64_t bytes) {
    uint64_t old = g_basic.stack_budget;
    g_basic.stack_budget = bytes;
    return old;
}

bool stack_exhausted(ScriptEngine* e, int32_t line) {
    if (g_basic.stack_users == 0) return false;
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (here >= g_basic.stack_base || g_basic.stack_base - here <= g_basic.stack_budget) return false;
    engine_error(e, line, "nesting too deep: out of stack space");
    return true;
}

bool engine_verror(ScriptEngine* e, int32_t line, const char* format, va_list args) {
    if (e->error_pending) return false;
    e->error_pending = true;
    e->error_line = line;
    vformat_into(e->error_message, sizeof e->error_message, format, args);
    return false;
}

bool engine_error(ScriptEngine* e, int32_t line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    engine_verror(e, line, format, args);
    va_end(args);
    return false;
}

Procedure* find_procedure(ScriptEngine* e, const char* name) {
    for (Procedure* p : e->procedures)
        if (strcmp(p->name, name) == 0) return p;
    return nullptr;
}

namespace {

[[gnu::noinline, gnu::cold]] bool call_refused(ScriptEngine* e, Procedure* proc, int32_t count, int32_t line) {
    if (count != proc->param_count)
        return engine_error(e, line, "%s expects %d argument%s, %d given", proc->name, proc->param_count,
                            proc->param_count == 1 ? "" : "s", count);
    return engine_error(e, line, "too many nested calls (recursion limit %d)", kMaxCallDepth);
}

}  // namespace

namespace {

constexpr int32_t kInlineArguments = 6;

[[gnu::noinline, gnu::cold]] bool argument_kind_error(ScriptEngine* e, Procedure* proc, int32_t index, int32_t line) {
    return engine_error(e, line, "%s: parameter %s expects a %s", proc->name, proc->params[index],
                        proc->param_strings[index] ? "string" : "number");
}

// Evaluates the arguments in the caller's scope; on failure releases what was made.
[[gnu::always_inline]] inline bool evaluate_arguments(ScriptEngine* e, Procedure* proc, Expr* const* args,
                                                      int32_t count, int32_t line,
                        Value* values) {
    const bool* strings = proc->param_strings;
    for (int32_t i = 0; i < count; i++) {
        const Expr* a = args[i];
        if (a->numeric && !strings[i]) {
            NumberResult r = a->numeric(e, a);
            if (r.status > 0) {
                values[i] = number_value(r.value);
                continue;
            }
            if (r.status < 0) {
                for (int32_t j = 0; j < i; j++) value_release(values[j]);
                return false;
            }
        }
        if (!a->run(e, a, &values[i])) {
            for (int32_t k = 0; k < i; k++) value_release(values[k]);
            return false;
        }
        if (proc->param_strings[i] != (values[i].kind == kValueString)) {
            for (int32_t k = 0; k <= i; k++) value_release(values[k]);
            return argument_kind_error(e, proc, i, line);
        }
    }
    return true;
}

[[gnu::noinline, gnu::cold]] bool body_failed(ScriptEngine* e, Procedure* proc, ExecResult r) {
    if (r == kExecGoto) return engine_error(e, e->flow_line, "label %s not found in %s", e->goto_label, proc->name);
    if (r >= kExecExitFor && r <= kExecContinueDo)
        return engine_error(e, e->flow_line, "EXIT/CONTINUE outside of a loop in %s", proc->name);
    return false;
}

[[gnu::noinline, gnu::cold]] bool wrong_result_kind(ScriptEngine* e, Procedure* proc, int32_t line) {
    return engine_error(e, line, "FUNCTION %s must return a %s", proc->name, proc->returns_string ? "string" : "number");
}

[[gnu::noinline]] void grow_parameters(CallFrame* frame, int32_t count) {
    frame->params = static_cast<Variable*>(xresize(frame->params, static_cast<uint64_t>(count) * sizeof(Variable)));
    memset(frame->params + frame->param_capacity, 0,
           static_cast<uint64_t>(count - frame->param_capacity) * sizeof(Variable));
    frame->param_capacity = count;
}

// After the body: the result into *result (when wanted), the parameters and locals
// released. Every case but a FUNCTION returning a value of its kind.
[[gnu::noinline]] bool leave_procedure_general(ScriptEngine* e, Procedure* proc, CallFrame* frame, ExecResult r,
                                               int32_t line, Value* result) {
    bool ok = r == kExecDone || r == kExecReturn || body_failed(e, proc, r);
    Value value;
    if (frame->has_result) {
        move_value(&value, &frame->result);
        frame->has_result = false;
    } else {
        value = proc->returns_string ? string_value(empty_string()) : number_value(0);
    }
    if (ok && proc->is_function && proc->returns_string != (value.kind == kValueString))
        ok = wrong_result_kind(e, proc, line);
    for (int32_t i = 0; i < frame->param_count; i++) {
        Variable* v = &frame->params[i];
        if (v->is_array || v->scalar.kind == kValueString) variable_reset(v);
    }
    frame->param_count = 0;
    if (frame->locals.entry_count) scope_clear(&frame->locals);
    if (ok && result) {
        move_value(result, &value);
    } else {
        value_release(value);
    }
    return ok;
}

// Runs the body with the evaluated arguments (taken over) as the new frame's parameters.
[[gnu::always_inline]] inline bool enter_procedure(ScriptEngine* e, Procedure* proc, Value* values, int32_t count,
                                                   int32_t line, Value* result) {
    CallFrame* frame = &e->frame_pool[e->call_depth];
    if (count > frame->param_capacity) [[unlikely]] grow_parameters(frame, count);
    // Unused parameter slots are always clean scalars (no elements, no chain), so only
    // the name and the value change.
    Variable* params = frame->params;
    char* const* names = proc->params;
    const uint32_t* hashes = proc->param_hashes;
    for (Variable* v = params; v != params + count; v++, values++, names++, hashes++) {
        v->name = *names;
        v->hash = *hashes;
        move_value(&v->scalar, values);
    }
    frame->param_count = count;
    frame->caller = e->frame;
    frame->procedure = proc;
    Variable* caller_params = e->params;
    e->frame = frame;
    e->params = params;
    e->call_depth++;
    ExecResult r = run_block(e, &proc->body);
    e->call_depth--;
    e->frame = frame->caller;
    e->params = caller_params;
    // A FUNCTION that returned a value of its kind (only a FUNCTION's RETURN gives the frame
    // a result), with number parameters and no locals.
    if (r == kExecReturn && frame->has_result && result &&
        proc->returns_string == (frame->result.kind == kValueString) && !frame->locals.entry_count) [[likely]] {
        bool clean = true;
        for (const Variable* v = params; v != params + count; v++) clean &= !v->is_array & (v->scalar.kind == kValueNumber);
        if (clean) {
            frame->param_count = 0;
            frame->has_result = false;
            move_value(result, &frame->result);
            return true;
        }
    }
    return leave_procedure_general(e, proc, frame, r, line, result);
}

[[gnu::noinline]] bool call_with_many_arguments(ScriptEngine* e, Procedure* proc, Expr* const* args, int32_t count,
                                                int32_t line, Value* result) {
    Value* values = static_cast<Value*>(xallocate(static_cast<uint64_t>(count) * sizeof(Value)));
    bool ok = evaluate_arguments(e, proc, args, count, line, values) &&
              enter_procedure(e, proc, values, count, line, result);
    release(values);
    return ok;
}

}  // namespace

bool call_procedure(ScriptEngine* e, Procedure* proc, Expr* const* args, int32_t count, int32_t line,
                    Value* result) {
    if (count != proc->param_count || e->call_depth >= kMaxCallDepth) return call_refused(e, proc, count, line);
    // Eight levels of calls take a few KiB at most, well inside the margin of the budget.
    if ((e->call_depth & 7) == 0 && stack_exhausted(e, line)) return false;
    if (count > kInlineArguments) return call_with_many_arguments(e, proc, args, count, line, result);
    if (count == 1) {
        // The commonest call, with the loops of the general one unrolled.
        Value value;
        return evaluate_arguments(e, proc, args, 1, line, &value) && enter_procedure(e, proc, &value, 1, line, result);
    }
    Value values[kInlineArguments];
    return evaluate_arguments(e, proc, args, count, line, values) &&
           enter_procedure(e, proc, values, count, line, result);
}

bool run_command(ScriptEngine* e, int32_t line, Expr* const* args, int32_t count, int32_t flags,
                 const Expr* file, StringBuffer* capture) {
    if (stack_exhausted(e, line)) return false;
    char** words = xallocate_array<char*>(static_cast<uint64_t>(count) + 1);
    for (int32_t i = 0; i < count; i++) {
        Value v;
        if (!eval(e, args[i], &v)) {
            free_words(words, count);
            return false;
        }
        words[i] = value_to_text(v);
        value_release(v);
    }
    char* path = nullptr;
    if (flags && file) {
        Value v;
        if (!eval(e, file, &v)) {
            free_words(words, count);
            return false;
        }
        char* text = value_to_text(v);
        value_release(v);
        path = resolve_path(text);
        if (!path) {
            engine_error(e, line, "RUN: invalid output file %s", text);
            release(text);
            free_words(words, count);
            return false;
        }
        release(text);
        ShellError opened = push_file(path, flags == kRunAppend);
        if (opened != kOk) {
            print_error("%s: %s\n", path, error_message(opened));
            e->err = 1;
            release(path);
            free_words(words, count);
            return true;
        }
    }
    if (capture) {
        ShellError pushed = push_capture(capture);
        if (pushed != kOk) {
            if (path) pop_redirection();
            release(path);
            free_words(words, count);
            // The output channel holds a fixed number of redirections.
            return engine_error(e, line, "RUN$: captures nested too deeply");
        }
    }
    int code = count == 1 ? run_command_line(words[0]) : run_arguments(count, words);
    if (capture) pop_redirection();
    if (path) {
        ShellError closed = pop_redirection();
        if (closed != kOk && code == 0) {
            print_error("%s: %s\n", path, error_message(closed));
            code = 1;
        }
        release(path);
    }
    free_words(words, count);
    e->err = code;
    SessionState& session = session_state();
    if (session.leave_shell || session.end_script) {
        session.end_script = false;
        e->end_requested = true;
        e->end_code = session.exit_code;
        return false;
    }
    return true;
}

// ---- entry points ----

ScriptEngine* engine_create(int argc, char** argv, bool interactive) {
    // Value-initialised: every plain member zero, the arrays empty.
    ScriptEngine* e = new (xallocate(sizeof(ScriptEngine)), PlacementTag{}) ScriptEngine();
    if (argc < 0 || !argv) argc = 0;
    e->argc = argc;
    e->argv = xallocate_array<char*>(static_cast<uint64_t>(argc) + 1);
    for (int i = 0; i < argc; i++) e->argv[i] = xstrdup(argv[i] ? argv[i] : "");
    e->interactive = interactive;
    uint64_t seed = milliseconds() * 6364136223846793005ull + 1442695040888963407ull;
    e->random_state = seed ? seed : 88172645463325252ull;
    e->resolve_key = next_resolve_key();
    e->engine_id = next_resolve_key();
    e->frame_pool = static_cast<CallFrame*>(xallocate_zeroed(kMaxCallDepth, sizeof(CallFrame)));
    return e;
}

void engine_destroy(ScriptEngine* e) {
    if (!e) return;
    scope_free(&e->globals);
    if (e->frame_pool) {
        for (int32_t i = 0; i < kMaxCallDepth; i++) {
            CallFrame* f = &e->frame_pool[i];
            if (f->has_result) value_release(f->result);
            for (int32_t k = 0; k < f->param_count; k++) variable_reset(&f->params[k]);
            release(f->params);
            scope_free(&f->locals);
        }
        release(e->frame_pool);
    }
    for (Program* kept : e->kept) {
        free_program(kept);
        release(kept);
    }
    for (int32_t i = 0; i < e->argc; i++) release(e->argv[i]);
    release(e->argv);
    for (uint64_t i = 0; i < e->dir_listing.count; i++) release(e->dir_listing.names[i]);
    release(e->dir_listing.names);
    e->~ScriptEngine();
    release(e);
}

int engine_run(ScriptEngine* e, Program* program, const char* script_path) {
    bool registered;
    return run_program(e, program, script_path, &registered);
}

int run_text(ScriptEngine* e, const char* text, bool* incomplete) {
    *incomplete = false;
    Program* program = static_cast<Program*>(xallocate_zeroed(1, sizeof(Program)));
    if (!parse_program(text, strlen(text), program)) {
        int code = 0;
        if (program->incomplete) {
            *incomplete = true;
        } else {
            if (program->error_line >= 2)
                print_error("line %d: syntax error: %s\n", program->error_line, program->message);
            else
                print_error("syntax error: %s\n", program->message);
            code = 1;
        }
        release(program);
        return code;
    }
    e->end_requested = false;
    e->end_code = 0;
    bool registered = false;
    int code = run_program(e, program, nullptr, &registered);
    if (registered) {
        e->kept.push(program);
    } else {
        free_program(program);
        release(program);
    }
    return code;
}

bool is_basic_line(ScriptEngine* e, const char* line) {
    if (!line) return false;
    uint64_t length = strlen(line);
    Lexer* lx = static_cast<Lexer*>(xallocate_zeroed(1, sizeof(Lexer)));
    lexer_init(lx, line, length);
    int32_t first = lx->token.kind;
    bool basic = false;
    if (is_statement_keyword(first)) {
        if (first != kTokExit) {
            basic = true;
        } else {
            lexer_next(lx);
            int32_t k = lx->token.kind;
            basic = k == kTokFor || k == kTokWhile || k == kTokDo || k == kTokSub || k == kTokFunction;
        }
    } else if (first == kTokIdent) {
        char* name = xstrdup(token_word(lx));
        for (char* p = name; *p; p++) *p = static_cast<char>(to_lower(static_cast<unsigned char>(*p)));
        lexer_next(lx);
        int32_t second = lx->token.kind;
        if (second == kTokEq) {
            basic = true;
        } else if (second == kTokLParen) {
            Variable* v = e ? lookup_variable(e, name) : nullptr;
            if ((v && v->is_array) || (e && find_procedure(e, name))) {
                basic = true;
            } else {
                // Scan the raw text from the '(' for its match, skipping quoted strings.
                uint64_t p = lx->position - 1;
                int depth = 0;
                bool in_string = false;
                for (; p < length; p++) {
                    char c = line[p];
                    if (in_string) {
                        if (c == '"') in_string = false;
                        continue;
                    }
                    if (c == '"') in_string = true;
                    else if (c == '(') depth++;
                    else if (c == ')' && --depth == 0) break;
                }
                if (p < length) {
                    p++;
                    while (p < length && (line[p] == ' ' || line[p] == '\t')) p++;
                    basic = p < length && line[p] == '=' && (p + 1 >= length || line[p + 1] != '=');
                }
            }
        } else {
            basic = e && find_procedure(e, name);
        }
        release(name);
    }
    lexer_free(lx);
    release(lx);
    return basic;
}

void set_err(ScriptEngine* e, int64_t code) { e->err = code; }
int64_t get_err(ScriptEngine* e) { return e->err; }

bool ended(ScriptEngine* e, int32_t* code) {
    if (code) *code = e->end_code;
    return e->end_requested;
}

int run_script_file(const char* path, int argc, char** argv) {
    if (script_depth() >= kMaxScriptDepth) {
        print_error("%s: %s\n", path, "scripts nested too deeply");
        return 1;
    }
    char* data = nullptr;
    uint64_t length = 0;
    ShellError read = read_whole_file(path, &data, &length);
    if (read != kOk) {
        print_error("%s: %s\n", path, error_message(read));
        return 1;
    }
    Program* program = static_cast<Program*>(xallocate_zeroed(1, sizeof(Program)));
    if (!parse_program(data, length, program)) {
        print_error("%s:%d: syntax error: %s\n", path, program->error_line, program->message);
        release(program);
        release(data);
        return 1;
    }
    ScriptEngine* e = engine_create(argc, argv, false);
    enter_script();
    int code = engine_run(e, program, path);
    leave_script();
    engine_destroy(e);
    free_program(program);
    release(program);
    release(data);
    return code;
}

void install_basic_hooks() { set_script_runner(run_script_file); }

void reset_basic_state() {
    g_basic.print_column = 0;
    g_basic.stack_base = 0;
    g_basic.stack_users = 0;
    g_basic.stack_budget = kDefaultStackBudget;
    reset_function_registry();
}

}  // namespace tarn
