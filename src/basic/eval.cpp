// Expression evaluation, variables, arrays, assignment and declarations.
#include "basic/engine.h"
#include "basic/engine_internal.h"
#include "basic/functions.h"
#include "basic/lexer.h"

#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

constexpr int64_t kMaxArraySize = 10000000;

// Whether comparison operator op (= <> < > <= >=) holds for an ordering c of -1, 0 or 1:
// one bit per ordering (less, equal, greater) for each operator.
inline bool comparison_holds(int32_t op, int c) {
    static constexpr uint8_t kHolds[] = {
        0b010,  // =
        0b101,  // <>
        0b001,  // <
        0b100,  // >
        0b011,  // <=
        0b110,  // >=
    };
    return (kHolds[op - kTokEq] >> (c + 1)) & 1;
}

const char* kind_word(bool is_string_kind) { return is_string_kind ? "string" : "numeric"; }

[[gnu::noinline]] bool eval_name(ScriptEngine* e, const Expr* x, Value* out) {
    Variable* v = node_variable(e, x);
    if (v && !v->is_array) {
        *out = value_copy(v->scalar);
        return true;
    }
    if (v) {
        if (v->is_array) return engine_error(e, x->line, "%s is an array: use %s(index)", x->name, x->name);
        *out = value_copy(v->scalar);
        return true;
    }
    if (const BuiltinFunctionDescriptor* row = find_builtin_cached(e, x->name, &x->cache))
        return call_builtin(e, row, x, nullptr, 0, out);
    Procedure* proc = find_procedure_cached(e, x->name, &x->cache);
    if (proc && proc->is_function) return call_procedure(e, proc, nullptr, 0, x->line, out);
    *out = x->string_name ? string_value(empty_string()) : number_value(0);
    return true;
}

[[gnu::noinline]] bool eval_call(ScriptEngine* e, const Expr* x, Value* out) {
    Variable* v = node_variable(e, x);
    if (v && v->is_array) {
        if (x->arg_count != 1) return engine_error(e, x->line, "%s is an array: use %s(index)", x->name, x->name);
        Value* slot = element(e, v, x->args[0]);
        if (!slot) return false;
        *out = value_copy(*slot);
        return true;
    }
    if (Procedure* proc = find_procedure_cached(e, x->name, &x->cache)) {
        if (!proc->is_function)
            return engine_error(e, x->line, "%s is a SUB and has no value (use it as a statement)", x->name);
        return call_procedure(e, proc, x->args, x->arg_count, x->line, out);
    }
    if (const BuiltinFunctionDescriptor* row = find_builtin_cached(e, x->name, &x->cache))
        return call_builtin(e, row, x, x->args, x->arg_count, out);
    return engine_error(e, x->line, "unknown function or array: %s", x->name);
}

[[gnu::noinline]] bool eval_unary(ScriptEngine* e, const Expr* x, Value* out) {
    Value v;
    if (!eval(e, x->left, &v)) return false;
    if (v.kind != kValueNumber) {
        value_release(v);
        return engine_error(e, x->line, "%s needs a number", x->op == kTokNot ? "NOT" : "unary minus");
    }
    uint64_t u = static_cast<uint64_t>(v.number);
    *out = number_value(static_cast<int64_t>(x->op == kTokNot ? ~u : 0 - u));
    return true;
}

int64_t power_of(int64_t base, int64_t exponent) {
    uint64_t result = 1, b = static_cast<uint64_t>(base);
    uint64_t n = static_cast<uint64_t>(exponent);
    while (n) {
        if (n & 1) result *= b;
        b *= b;
        n >>= 1;
    }
    return static_cast<int64_t>(result);
}

// The error of an operator that refused its numbers.
[[gnu::noinline, gnu::cold]] bool numeric_error(ScriptEngine* e, const Expr* x) {
    switch (x->op) {
        case kTokSlash:
        case kTokBackslash:
        case kTokMod: return engine_error(e, x->line, "division by zero");
        case kTokCaret: return engine_error(e, x->line, "negative exponent");
        default: return engine_error(e, x->line, "internal error: bad operator");
    }
}

// op applied to two numbers; false (nothing reported yet) for a division by zero, a
// negative exponent or an operator that takes no numbers.
[[gnu::always_inline]] inline bool numeric_op(int32_t op, int64_t a, int64_t b, int64_t* out) {
    uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    int64_t r;
    switch (op) {
        case kTokPlus: r = static_cast<int64_t>(ua + ub); break;
        case kTokMinus: r = static_cast<int64_t>(ua - ub); break;
        case kTokStar: r = static_cast<int64_t>(ua * ub); break;
        case kTokSlash:
        case kTokBackslash:
            if (b == 0) return false;
            r = (b == -1) ? static_cast<int64_t>(0 - ua) : a / b;
            break;
        case kTokMod:
            if (b == 0) return false;
            r = (b == -1) ? 0 : a % b;
            break;
        case kTokCaret:
            if (b < 0) return false;
            r = power_of(a, b);
            break;
        case kTokEq: r = -static_cast<int64_t>(a == b); break;
        case kTokNe: r = -static_cast<int64_t>(a != b); break;
        case kTokLt: r = -static_cast<int64_t>(a < b); break;
        case kTokGt: r = -static_cast<int64_t>(a > b); break;
        case kTokLe: r = -static_cast<int64_t>(a <= b); break;
        case kTokGe: r = -static_cast<int64_t>(a >= b); break;
        case kTokAnd: r = a & b; break;
        case kTokOr: r = a | b; break;
        case kTokXor: r = a ^ b; break;
        case kTokShl: r = ub < 64 ? static_cast<int64_t>(ua << ub) : 0; break;
        case kTokShr: r = ub < 64 ? static_cast<int64_t>(ua >> ub) : 0; break;
        default: return false;
    }
    *out = r;
    return true;
}

[[gnu::always_inline]] inline bool numeric_binary(ScriptEngine* e, const Expr* x, int64_t a, int64_t b, Value* out) {
    int64_t r;
    if (!numeric_op(x->op, a, b, &r)) return numeric_error(e, x);
    *out = number_value(r);
    return true;
}

[[gnu::noinline]] bool string_binary(ScriptEngine* e, const Expr* x, const Value& a, const Value& b, Value* out) {
    int32_t op = x->op;
    if (op == kTokPlus) {
        uint64_t la = a.string->length, lb = b.string->length;
        if (lb == 0) {
            *out = value_copy(a);
            return true;
        }
        if (la == 0) {
            *out = value_copy(b);
            return true;
        }
        uint64_t n;
        SharedString* s = add_overflows(la, lb, &n) ? nullptr : try_new_string_raw(n);
        if (!s) return engine_error(e, x->line, "out of memory");
        memcpy(s->bytes(), a.string->bytes(), la);
        memcpy(s->bytes() + la, b.string->bytes(), lb);
        *out = string_value(s);
        return true;
    }
    if (op >= kTokEq && op <= kTokGe) {
        *out = number_value(comparison_holds(op, compare(a, b)) ? -1 : 0);
        return true;
    }
    if (op == kTokTo || op == kTokIs || op < kTokPlus || (op > kTokGe && op < kTokAnd) || op > kTokShr)
        return engine_error(e, x->line, "internal error: bad operator");
    return engine_error(e, x->line, "operator %s cannot be used with strings", token_display_name(op));
}

// The error for a string and a number meeting at a binary operator.
[[gnu::noinline, gnu::cold]] bool mixed_operands(ScriptEngine* e, const Expr* x) {
    if (x->op == kTokTo || x->op == kTokIs || x->op < kTokPlus || x->op > kTokShr)
        return engine_error(e, x->line, "internal error: bad operator");
    return engine_error(e, x->line, "type mismatch: cannot combine a string and a number with %s (use STR$ or VAL)",
                        token_display_name(x->op));
}


// ---- numeric expressions without values (see NumberFn) ----

constexpr NumberResult kNotNumeric = {0, 0};
constexpr NumberResult kNumberFailed = {0, -1};

[[gnu::always_inline]] inline NumberResult number_result(int64_t n) { return {n, 1}; }

// Any numeric operand: a leaf in place, anything else through its routine.
[[gnu::always_inline]] inline NumberResult number_of(ScriptEngine* e, const Expr* x) {
    int64_t n;
    if (leaf_number(e, x, &n)) return number_result(n);
    return x->numeric(e, x);
}

[[gnu::always_inline]] inline NumberResult scalar_number(const Variable* v) {
    if (!v || v->is_array || v->scalar.kind != kValueNumber) return kNotNumeric;
    return number_result(v->scalar.number);
}

NumberResult number_literal(ScriptEngine*, const Expr* x) { return number_result(x->number); }

NumberResult number_parameter(ScriptEngine* e, const Expr* x) {
    return scalar_number(&e->params[x->param_index]);
}

NumberResult number_global(ScriptEngine* e, const Expr* x) { return scalar_number(slot_global(e, x->slot)); }

NumberResult number_scoped(ScriptEngine* e, const Expr* x) { return scalar_number(find_scoped_variable(e, x)); }

// name(index) of a numeric array; not numeric when the name is no array (a call,
// evaluated elsewhere).
[[gnu::noinline]] NumberResult number_element_general(ScriptEngine* e, const Expr* x) {
    Variable* v = node_variable(e, x);
    if (!v || !v->is_array) return kNotNumeric;
    const Expr* index_expr = x->args[0];
    NumberResult index = number_of(e, index_expr);
    if (index.status <= 0) return index;
    if (index.value < 0 || index.value >= v->count) {
        index_out_of_range(e, v, index_expr, index.value);
        return kNumberFailed;
    }
    const Value* slot = &v->elements[index.value];
    if (slot->kind != kValueNumber) return kNotNumeric;
    return number_result(slot->number);
}

// A global array at an index that is a leaf, in range, without a call.
NumberResult number_element(ScriptEngine* e, const Expr* x) {
    const Variable* v = x->scope == kScopeGlobal ? x->slot->var : nullptr;
    int64_t index;
    if (v && v->is_array && leaf_number(e, x->args[0], &index) && index >= 0 && index < v->count) {
        const Value* slot = &v->elements[index];
        if (slot->kind == kValueNumber) return number_result(slot->number);
    }
    return number_element_general(e, x);
}

[[gnu::noinline, gnu::cold]] NumberResult refused(ScriptEngine* e, const Expr* x) {
    numeric_error(e, x);
    return kNumberFailed;
}

// Any two numeric operands; Op 0 stands for the node's operator (the rarer operators,
// which have no routines of their own).
template <int32_t Op>
[[gnu::noinline]] NumberResult number_binary_nested(ScriptEngine* e, const Expr* x) {
    NumberResult a = number_of(e, x->left);
    if (a.status <= 0) return a;
    NumberResult b = number_of(e, x->right);
    if (b.status <= 0) return b;
    int64_t r;
    if (numeric_op(Op ? Op : x->op, a.value, b.value, &r)) [[likely]] return number_result(r);
    return refused(e, x);
}

// Two leaves, combined without a call.
template <int32_t Op>
NumberResult number_binary(ScriptEngine* e, const Expr* x) {
    int64_t a, b, r;
    if (leaf_number(e, x->left, &a) && leaf_number(e, x->right, &b) && numeric_op(Op, a, b, &r))
        return number_result(r);
    return number_binary_nested<Op>(e, x);
}

// A leaf and a number literal (x - 1, n < 2, i MOD 3).
template <int32_t Op>
NumberResult number_binary_constant(ScriptEngine* e, const Expr* x) {
    int64_t a, r;
    if (leaf_number(e, x->left, &a) && numeric_op(Op, a, x->right->number, &r)) return number_result(r);
    return number_binary_nested<Op>(e, x);
}

NumberResult number_negate(ScriptEngine* e, const Expr* x) {
    NumberResult a = number_of(e, x->left);
    if (a.status > 0) a.value = static_cast<int64_t>(0 - static_cast<uint64_t>(a.value));
    return a;
}

NumberResult number_not(ScriptEngine* e, const Expr* x) {
    NumberResult a = number_of(e, x->left);
    if (a.status > 0) a.value = ~a.value;
    return a;
}

// The routines of one operator: two leaves, a leaf and a literal, anything else.
struct OperatorRoutines {
    int32_t op;
    NumberFn leaves;
    NumberFn constant;
    NumberFn nested;
};

template <int32_t Op>
constexpr OperatorRoutines routines_of() {
    return {Op, number_binary<Op>, number_binary_constant<Op>, number_binary_nested<Op>};
}

// The commoner operators; the others go through number_binary_any.
constexpr OperatorRoutines kOperatorRoutines[] = {
    routines_of<kTokPlus>(), routines_of<kTokMinus>(), routines_of<kTokStar>(), routines_of<kTokBackslash>(),
    routines_of<kTokMod>(),  routines_of<kTokEq>(),    routines_of<kTokNe>(),   routines_of<kTokLt>(),
    routines_of<kTokGt>(),   routines_of<kTokLe>(),    routines_of<kTokGe>(),
};

NumberFn binary_number_routine(const Expr* x) {
    for (const OperatorRoutines& r : kOperatorRoutines) {
        if (r.op != x->op) continue;
        bool left_leaf = x->left->leaf != kLeafOther;
        if (left_leaf && x->right->leaf == kLeafNumber) return r.constant;
        if (left_leaf && x->right->leaf != kLeafOther) return r.leaves;
        return r.nested;
    }
    int64_t ignored;
    // Operators that take numbers (numeric_op knows them all).
    if (numeric_op(x->op, 1, 1, &ignored)) return number_binary_nested<0>;
    return nullptr;
}

NumberFn number_routine(const Expr* x) {
    switch (x->kind) {
        case kExprNumber: return number_literal;
        case kExprName:
            if (x->string_name || (x->callable && x->scope == kScopeGlobal)) return nullptr;
            if (x->scope == kScopeParameter) return number_parameter;
            return x->scope == kScopeGlobal ? number_global : number_scoped;
        case kExprCall:
            if (x->string_name || x->callable || x->arg_count != 1 || !x->args[0]->numeric) return nullptr;
            return number_element;
        case kExprUnary:
            if (!x->left || !x->left->numeric) return nullptr;
            return x->op == kTokNot ? number_not : number_negate;
        case kExprBinary:
            if (!x->left || !x->right || !x->left->numeric || !x->right->numeric) return nullptr;
            return binary_number_routine(x);
        default: return nullptr;
    }
}

// A number literal or a scalar variable without a call; anything else through eval.
[[gnu::always_inline]] inline bool eval_operand(ScriptEngine* e, const Expr* x, Value* out) {
    if (x->kind == kExprNumber) {
        *out = number_value(x->number);
        return true;
    }
    return x->run(e, x, out);
}

// Longest run of '+' operators a chain is evaluated in at once; a longer chain keeps its
// left part as one operand, evaluated the same way.
constexpr int32_t kMaxChainOperators = 16;

inline bool is_plus(const Expr* x) { return x->kind == kExprBinary && x->op == kTokPlus; }

// The operands of a left-leaning chain a + b + c ..., leftmost first, and the operator
// nodes (nodes[i] joins the result of operands 0..i to operand i+1). Returns the number
// of operators.
int32_t plus_chain(const Expr* x, const Expr** operands, const Expr** nodes) {
    int32_t n = 0;
    for (const Expr* p = x; is_plus(p) && n < kMaxChainOperators; p = p->left) nodes[n++] = p;
    for (int32_t i = 0, j = n - 1; i < j; i++, j--) {
        const Expr* t = nodes[i];
        nodes[i] = nodes[j];
        nodes[j] = t;
    }
    operands[0] = nodes[0]->left;
    for (int32_t i = 0; i < n; i++) operands[i + 1] = nodes[i]->right;
    return n;
}

void release_values(Value* values, int32_t count) {
    for (int32_t i = 0; i < count; i++) value_release(values[i]);
}

// Evaluates the string operands 1..n of a chain (after a string operand 0) in order into
// values; a number among them is the error the operator before it reports.
bool eval_string_operands(ScriptEngine* e, const Expr* const* operands, const Expr* const* nodes, int32_t n,
                          Value* values) {
    for (int32_t i = 0; i < n; i++) {
        if (!eval_operand(e, operands[i + 1], &values[i])) {
            release_values(values, i);
            return false;
        }
        if (values[i].kind != kValueString) {
            release_values(values, i + 1);
            return mixed_operands(e, nodes[i]);
        }
    }
    return true;
}

// A new string of first's bytes followed by each value's (all strings), built in one piece.
bool join_strings(ScriptEngine* e, int32_t line, const SharedString* first, const Value* values, int32_t n,
                  Value* out) {
    uint64_t total = first->length;
    for (int32_t i = 0; i < n; i++) {
        if (add_overflows(total, values[i].string->length, &total))
            return engine_error(e, line, "out of memory");
    }
    SharedString* s = try_new_string_raw(total);
    if (!s) return engine_error(e, line, "out of memory");
    char* to = s->bytes();
    memcpy(to, first->bytes(), first->length);
    to += first->length;
    for (int32_t i = 0; i < n; i++) {
        memcpy(to, values[i].string->bytes(), values[i].string->length);
        to += values[i].string->length;
    }
    *out = string_value(s);
    return true;
}

// a + b + c ... evaluated left to right as the single operators would be, but strings
// joined once at the end instead of one intermediate string per operator.
[[gnu::noinline]] bool eval_plus_chain(ScriptEngine* e, const Expr* x, Value* out) {
    const Expr* operands[kMaxChainOperators + 1];
    const Expr* nodes[kMaxChainOperators];
    int32_t n = plus_chain(x, operands, nodes);
    Value first;
    if (!eval_operand(e, operands[0], &first)) return false;
    if (first.kind == kValueNumber) {
        uint64_t sum = static_cast<uint64_t>(first.number);
        for (int32_t i = 0; i < n; i++) {
            Value b;
            if (!eval_operand(e, operands[i + 1], &b)) return false;
            if (b.kind != kValueNumber) {
                value_release(b);
                return mixed_operands(e, nodes[i]);
            }
            sum += static_cast<uint64_t>(b.number);
        }
        *out = number_value(static_cast<int64_t>(sum));
        return true;
    }
    Value values[kMaxChainOperators];
    bool ok = eval_string_operands(e, operands, nodes, n, values);
    if (ok) {
        ok = join_strings(e, x->line, first.string, values, n, out);
        release_values(values, n);
    }
    value_release(first);
    return ok;
}

[[gnu::noinline]] bool eval_binary_general(ScriptEngine* e, const Expr* x, Value* out) {
    if (x->op == kTokPlus && is_plus(x->left)) return eval_plus_chain(e, x, out);
    Value a, b;
    if (!eval_operand(e, x->left, &a)) return false;
    if (!eval_operand(e, x->right, &b)) {
        value_release(a);
        return false;
    }
    if (a.kind == kValueNumber && b.kind == kValueNumber) return numeric_binary(e, x, a.number, b.number, out);
    bool ok = a.kind == kValueString && b.kind == kValueString ? string_binary(e, x, a, b, out)
                                                                : mixed_operands(e, x);
    value_release(a);
    value_release(b);
    return ok;
}

bool resize_elements(ScriptEngine* e, int32_t line, Variable* v, int64_t size, bool keep) {
    int64_t count = size + 1;
    Value* elements = nullptr;
    if (count > 0) {
        elements = static_cast<Value*>(allocate(static_cast<uint64_t>(count) * sizeof(Value)));
        if (!elements) return engine_error(e, line, "out of memory");
    }
    int64_t kept = 0;
    if (v->is_array) {
        if (keep) {
            kept = v->count < count ? v->count : count;
            for (int64_t i = 0; i < kept; i++) elements[i] = v->elements[i];
        }
        for (int64_t i = kept; i < v->count; i++) value_release(v->elements[i]);
        release(v->elements);
    }
    value_release(v->scalar);
    v->scalar = number_value(0);
    bool string_kind = name_is_string(v->name);
    for (int64_t i = kept; i < count; i++)
        elements[i] = string_kind ? string_value(empty_string()) : number_value(0);
    v->is_array = true;
    v->elements = elements;
    v->count = count;
    return true;
}

}  // namespace

namespace {

// Any expression, by its kind.
bool eval_general(ScriptEngine* e, const Expr* x, Value* out) {
    switch (x->kind) {
        case kExprNumber:
            *out = number_value(x->number);
            return true;
        case kExprString:
            string_retain(x->string);
            *out = string_value(x->string);
            return true;
        case kExprName: return eval_name(e, x, out);
        case kExprCall: return eval_call(e, x, out);
        case kExprUnary: return eval_unary(e, x, out);
        case kExprBinary: return eval_binary_general(e, x, out);
    }
    return engine_error(e, x->line, "internal error: not an expression");
}

bool run_number_literal(ScriptEngine*, const Expr* x, Value* out) {
    *out = number_value(x->number);
    return true;
}

bool run_string_literal(ScriptEngine*, const Expr* x, Value* out) {
    string_retain(x->string);
    *out = string_value(x->string);
    return true;
}

bool run_parameter(ScriptEngine* e, const Expr* x, Value* out) {
    const Variable* v = &e->params[x->param_index];
    if (v->is_array) return eval_name(e, x, out);
    *out = value_copy(v->scalar);
    return true;
}

bool run_global(ScriptEngine* e, const Expr* x, Value* out) {
    const Variable* v = x->slot->var;
    if (!v || v->is_array) return eval_name(e, x, out);
    *out = value_copy(v->scalar);
    return true;
}

// A numeric expression (see NumberFn), the general way when its names are not all
// numeric variables.
bool run_number(ScriptEngine* e, const Expr* x, Value* out) {
    NumberResult r = x->numeric(e, x);
    if (r.status > 0) {
        *out = number_value(r.value);
        return true;
    }
    if (r.status < 0) return false;
    return eval_general(e, x, out);
}

// A call of a name that is no variable's: a FUNCTION known from the last call is called
// directly, everything else (arrays of that name, built-in functions) by eval_call.
bool run_procedure_call(ScriptEngine* e, const Expr* x, Value* out) {
    const NameCache* c = &x->cache;
    if (c->key == e->resolve_key && c->procedure && c->procedure->is_function && !slot_global(e, x->slot))
        return call_procedure(e, c->procedure, x->args, x->arg_count, x->line, out);
    return eval_call(e, x, out);
}

EvalFn eval_routine(const Expr* x) {
    switch (x->kind) {
        case kExprNumber: return run_number_literal;
        case kExprString: return run_string_literal;
        case kExprName:
            if (x->scope == kScopeParameter) return run_parameter;
            if (x->scope == kScopeGlobal) return run_global;
            return eval_name;
        case kExprCall:
            if (x->numeric) return run_number;
            return x->callable && x->scope == kScopeGlobal ? run_procedure_call : eval_call;
        case kExprUnary: return x->numeric ? run_number : eval_unary;
        case kExprBinary:
            // The pieces of a CASE range or relation are evaluated one by one, never the node.
            if (!x->left || !x->right) return eval_general;
            return x->numeric ? run_number : eval_binary_general;
    }
    return eval_general;
}

}  // namespace

void prepare_expr(Expr* x) {
    x->numeric = number_routine(x);
    x->leaf = kLeafOther;
    if (x->numeric == number_literal) x->leaf = kLeafNumber;
    else if (x->numeric == number_parameter) x->leaf = kLeafParameter;
    else if (x->numeric == number_global) x->leaf = kLeafGlobal;
    x->run = eval_routine(x);
}

bool eval(ScriptEngine* e, const Expr* x, Value* out) { return x->run(e, x, out); }

bool eval_number(ScriptEngine* e, const Expr* x, int64_t* out) {
    if (x->numeric) {
        NumberResult r = x->numeric(e, x);
        if (r.status > 0) {
            *out = r.value;
            return true;
        }
        if (r.status < 0) return false;
    }
    Value v;
    if (!x->run(e, x, &v)) return false;
    if (v.kind != kValueNumber) {
        value_release(v);
        return engine_error(e, x->line, "number expected, found a string");
    }
    *out = v.number;
    return true;
}

bool eval_condition_general(ScriptEngine* e, const Expr* x, bool* out) {
    Value v;
    if (x->kind == kExprBinary && x->op >= kTokEq && x->op <= kTokGe) {
        Value a, b;
        if (!eval_operand(e, x->left, &a)) return false;
        if (!eval_operand(e, x->right, &b)) {
            value_release(a);
            return false;
        }
        if (a.kind == kValueNumber && b.kind == kValueNumber) {
            *out = comparison_holds(x->op, (a.number > b.number) - (a.number < b.number));
            return true;
        }
        bool ok = a.kind == kValueString && b.kind == kValueString ? string_binary(e, x, a, b, &v)
                                                                    : mixed_operands(e, x);
        value_release(a);
        value_release(b);
        if (!ok) return false;
    } else if (!eval(e, x, &v)) {
        return false;
    }
    if (v.kind == kValueNumber) {
        *out = v.number != 0;
    } else {
        *out = v.string->length != 0;
        value_release(v);
    }
    return true;
}

bool eval_condition(ScriptEngine* e, const Expr* x, bool* out) { return test_condition(e, x, out); }

void index_out_of_range(ScriptEngine* e, const Variable* array, const Expr* index_expr, int64_t index) {
    engine_error(e, index_expr->line, "index %lld out of range for %s (0 to %lld)", static_cast<long long>(index),
                 array->name, static_cast<long long>(array->count - 1));
}

Variable* find_scoped_variable(ScriptEngine* e, const Expr* x) {
    return find_variable_cached(e, x->name, x->hash, &x->cache);
}

Variable* find_slot_global(ScriptEngine* e, GlobalSlot* slot) {
    Variable* v = scope_find(&e->globals, slot->name, slot->hash);
    slot->var = v;
    if (!v) slot->absent_version = e->globals_version + 1;
    return v;
}

bool find_slot_function(ScriptEngine* e, GlobalSlot* slot) {
    slot->names_function = find_function(slot->name) || find_procedure(e, slot->name);
    slot->function_key = e->resolve_key;
    slot->function_epoch = function_registry_epoch() + 1;
    return slot->names_function;
}

Variable* find_local(CallFrame* f, const char* name, uint32_t hash) {
    for (int32_t i = f->param_count - 1; i >= 0; i--) {
        Variable* v = &f->params[i];
        if (v->hash == hash && strcmp(v->name, name) == 0) return v;
    }
    return f->locals.entry_count ? scope_find(&f->locals, name, hash) : nullptr;
}

Variable* lookup_variable(ScriptEngine* e, const char* name) {
    uint32_t hash = name_hash(name);
    if (e->frame) {
        if (Variable* v = find_local(e->frame, name, hash)) return v;
    }
    return scope_find(&e->globals, name, hash);
}

Variable* get_or_create_variable(ScriptEngine* e, const char* name) {
    if (Variable* v = lookup_variable(e, name)) return v;
    return create_global(e, name, name_hash(name), nullptr);
}

Value* element(ScriptEngine* e, Variable* array, const Expr* index_expr) {
    int64_t index;
    if (!eval_number(e, index_expr, &index)) return nullptr;
    if (index < 0 || index >= array->count) {
        index_out_of_range(e, array, index_expr, index);
        return nullptr;
    }
    return &array->elements[index];
}

Variable* array_argument(ScriptEngine* e, const Expr* x, bool create) {
    if (!x || !(x->kind == kExprName || (x->kind == kExprCall && x->arg_count == 0))) {
        engine_error(e, x ? x->line : 0, "array name expected");
        return nullptr;
    }
    Variable* v = lookup_variable(e, x->name);
    if (!v && create) {
        if (find_function(x->name)) {
            engine_error(e, x->line, "%s is the name of a built-in function", x->name);
            return nullptr;
        }
        v = create_global(e, x->name, x->hash, x->slot);
        value_release(v->scalar);
        v->scalar = number_value(0);
        v->is_array = true;
        v->count = 0;
        return v;
    }
    if (!v || !v->is_array) {
        engine_error(e, x->line, "%s is not an array (declare it with DIM)", x->name);
        return nullptr;
    }
    return v;
}

bool assign(ScriptEngine* e, const Expr* target, Value value) {
    if (target->string_name != (value.kind == kValueString)) {
        value_release(value);
        return engine_error(e, target->line, "type mismatch: %s is a %s variable", target->name,
                            kind_word(target->string_name));
    }
    if (target->kind == kExprCall) {
        Variable* v = node_variable(e, target);
        if (!v || !v->is_array) {
            value_release(value);
            return engine_error(e, target->line, "%s is not an array (declare it with DIM)", target->name);
        }
        Value* slot = element(e, v, target->args[0]);
        if (!slot) {
            value_release(value);
            return false;
        }
        value_release(*slot);
        *slot = value;
        return true;
    }
    if (slot_names_function(e, target->slot)) {
        value_release(value);
        return engine_error(e, target->line, "%s is a function name and cannot be assigned", target->name);
    }
    Variable* v = node_variable(e, target);
    if (!v) v = create_global(e, target->name, target->hash, target->slot);
    if (v->is_array) {
        value_release(value);
        return engine_error(e, target->line, "%s is an array: use %s(index) = value", target->name, target->name);
    }
    value_release(v->scalar);
    v->scalar = value;
    return true;
}

bool assign_append(ScriptEngine* e, const Expr* target, const Expr* value) {
    const Expr* operands[kMaxChainOperators + 1];
    const Expr* nodes[kMaxChainOperators];
    int32_t n = is_plus(value) ? plus_chain(value, operands, nodes) : 0;
    Variable* v = n ? node_variable(e, target) : nullptr;
    // Anything but a string variable with the text already in it takes the general path,
    // which also gives the errors.
    if (!v || v->is_array || v->scalar.kind != kValueString || operands[0]->kind != kExprName ||
        slot_names_function(e, target->slot)) {
        Value result;
        return eval(e, value, &result) && assign(e, target, result);
    }
    // The text as it was before the operands ran (they may call procedures that change it).
    SharedString* held = v->scalar.string;
    string_retain(held);
    Value values[kMaxChainOperators];
    if (!eval_string_operands(e, operands, nodes, n, values)) {
        string_release(held);
        return false;
    }
    Variable* now = node_variable(e, target);
    bool ok = true;
    if (now == v && !v->is_array && v->scalar.kind == kValueString && v->scalar.string == held && held->refs == 2) {
        // Still the same text, and the variable and this function its only holders.
        StringPiece pieces[kMaxChainOperators];
        for (int32_t i = 0; i < n; i++) pieces[i] = {values[i].string->bytes(), values[i].string->length};
        held->refs = 1;
        SharedString* grown = string_append_unique(held, pieces, n);
        if (grown) v->scalar.string = grown;
        else ok = engine_error(e, nodes[n - 1]->line, "out of memory");
    } else {
        Value result;
        ok = join_strings(e, nodes[n - 1]->line, held, values, n, &result) && assign(e, target, result);
        string_release(held);
    }
    release_values(values, n);
    return ok;
}

bool declare(ScriptEngine* e, const Statement* s, bool is_local) {
    bool redim = s->flags == 1;
    for (int32_t i = 0; i < s->arg_count; i++) {
        const Expr* x = s->args[i];
        if (find_function(x->name))
            return engine_error(e, x->line, "%s is the name of a built-in function", x->name);
        Variable* v;
        if (is_local && e->frame) {
            if (find_local(e->frame, x->name, x->hash))
                return engine_error(e, x->line, "%s is already a local variable", x->name);
            v = scope_insert(&e->frame->locals, x->name, x->hash, false);
        } else {
            v = node_variable(e, x);
            if (!v) v = create_global(e, x->name, x->hash, x->slot);
        }
        if (x->kind != kExprCall) {
            if (v->is_array && !is_local) return engine_error(e, x->line, "%s is an array", x->name);
            continue;
        }
        int64_t size;
        if (!eval_number(e, x->args[0], &size)) return false;
        if (size < -1 || size > kMaxArraySize)
            return engine_error(e, x->line, "invalid array size %lld", static_cast<long long>(size));
        if (v->is_array && !redim && !is_local)
            return engine_error(e, x->line, "%s is already dimensioned (use REDIM to resize)", x->name);
        if (!resize_elements(e, x->line, v, size, redim)) return false;
    }
    return true;
}

}  // namespace tarn
