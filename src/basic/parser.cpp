// The TARN BASIC parser: a recursive-descent reader that builds a Program from a text.
#include "basic/lexer.h"
#include "basic/program.h"

#include "runtime/exit.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

struct Parser {
    Lexer lexer;
    Token current;
    Token pushed;
    bool has_pushed;
    bool previous_was_eol;
    Program* program;
    int32_t expr_depth;
    int32_t block_depth;
    bool error;
    bool inside_procedure;
    bool inside_function;
};

template <class T> void grow_push(T*& data, int32_t& count, int32_t& capacity, const T& value) {
    if (count == capacity) {
        if (capacity >= (1 << 29)) fatal("out of memory");
        int32_t cap = capacity ? capacity * 2 : 4;
        data = static_cast<T*>(xresize(data, static_cast<uint64_t>(cap) * sizeof(T)));
        capacity = cap;
    }
    data[count++] = value;
}

// A list of expressions being collected; it frees them unless they are handed over.
struct ExprList {
    Expr** data = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
    ExprList() = default;
    ExprList(const ExprList&) = delete;
    ExprList& operator=(const ExprList&) = delete;
    ~ExprList() {
        for (int32_t i = 0; i < count; i++) free_expr(data[i]);
        release(data);
    }
    void push(Expr* e) { grow_push(data, count, capacity, e); }
    // Hands the array over to its new owner.
    Expr** take(int32_t* taken_count) {
        Expr** taken = data;
        *taken_count = count;
        data = nullptr;
        count = capacity = 0;
        return taken;
    }
};

char* lower_copy(const char* text) {
    char* copy = xstrdup(text ? text : "");
    for (char* p = copy; *p; p++) *p = static_cast<char>(to_lower(static_cast<unsigned char>(*p)));
    return copy;
}

void free_list(StatementList* list);
void free_statement(Statement* s);

// Owns a node while it is being built: every early return frees it, and take() hands it
// on once it is complete.
template <class T, void (*Free)(T*)> class NodeOwner {
public:
    explicit NodeOwner(T* node = nullptr) : node_(node) {}
    NodeOwner(const NodeOwner&) = delete;
    NodeOwner& operator=(const NodeOwner&) = delete;
    ~NodeOwner() { Free(node_); }
    T* get() const { return node_; }
    T* operator->() const { return node_; }
    explicit operator bool() const { return node_ != nullptr; }
    T* take() {
        T* node = node_;
        node_ = nullptr;
        return node;
    }
    void reset(T* node) {
        Free(node_);
        node_ = node;
    }

private:
    T* node_;
};

using ExprOwner = NodeOwner<Expr, free_expr>;
using StatementOwner = NodeOwner<Statement, free_statement>;

void free_statement(Statement* s) {
    if (!s) return;
    release(s->name);
    for (Expr* e : s->expr) free_expr(e);
    for (int32_t i = 0; i < s->arg_count; i++) free_expr(s->args[i]);
    release(s->args);
    release(s->separators);
    for (int32_t i = 0; i < s->branch_count; i++) {
        free_expr(s->branches[i].condition);
        free_list(&s->branches[i].body);
    }
    release(s->branches);
    for (int32_t i = 0; i < s->case_count; i++) {
        for (int32_t k = 0; k < s->cases[i].item_count; k++) free_expr(s->cases[i].items[k]);
        release(s->cases[i].items);
        free_list(&s->cases[i].body);
    }
    release(s->cases);
    free_list(&s->body);
    release(s);
}

void free_list(StatementList* list) {
    for (int32_t i = 0; i < list->count; i++) free_statement(list->items[i]);
    release(list->items);
    for (int32_t i = 0; i < list->label_count; i++) release(list->labels[i].name);
    release(list->labels);
    memset(list, 0, sizeof *list);
}

void free_procedure(Procedure* p) {
    if (!p) return;
    release(p->name);
    for (int32_t i = 0; i < p->param_count; i++) release(p->params[i]);
    release(p->params);
    release(p->param_hashes);
    release(p->param_strings);
    free_list(&p->body);
    release(p);
}

// ---- tokens ----

void take_token(Token* into, Token* from) {
    *into = *from;
    from->text = nullptr;
    from->text_length = 0;
}

void advance(Parser* p) {
    p->previous_was_eol = p->current.kind == kTokEol;
    release(p->current.text);
    if (p->has_pushed) {
        p->current = p->pushed;
        p->has_pushed = false;
    } else {
        take_token(&p->current, &p->lexer.token);
        lexer_next(&p->lexer);
    }
}

// The token after the current one.
const Token* peek(Parser* p) { return p->has_pushed ? &p->pushed : &p->lexer.token; }

// The token after peek(p).
const Token* peek2(Parser* p) {
    if (!p->has_pushed) {
        take_token(&p->pushed, &p->lexer.token);
        p->has_pushed = true;
        lexer_next(&p->lexer);
    }
    return &p->lexer.token;
}

bool at(const Parser* p, int32_t kind) { return p->current.kind == kind; }

bool at_statement_end(const Parser* p) {
    int32_t k = p->current.kind;
    return k == kTokEol || k == kTokColon || k == kTokEnd || k == kTokElse;
}

// ---- errors ----

void vsyntax_error(Parser* p, bool expected, const char* format, va_list args) {
    if (p->error) return;
    p->error = true;
    Program* prog = p->program;
    prog->error_line = p->current.line;
    if (p->current.kind == kTokError && p->lexer.message[0]) {
        format_into(prog->message, sizeof prog->message, "%s", p->lexer.message);
        return;
    }
    vformat_into(prog->message, sizeof prog->message, format, args);
    if (expected && p->current.kind == kTokEnd) prog->incomplete = true;
}

void syntax_error(Parser* p, const char* format, ...) TARN_PRINTF(2, 3);
void syntax_error(Parser* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsyntax_error(p, false, format, args);
    va_end(args);
}

void expected_error(Parser* p, const char* format, ...) TARN_PRINTF(2, 3);
void expected_error(Parser* p, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsyntax_error(p, true, format, args);
    va_end(args);
}

// "expected WHAT, found TOKEN".
void expected(Parser* p, const char* what) {
    expected_error(p, "expected %s, found %s", what, token_display_name(p->current.kind));
}

bool expect(Parser* p, int32_t kind) {
    if (at(p, kind)) {
        advance(p);
        return true;
    }
    expected(p, token_display_name(kind));
    return false;
}

void block_mismatch(Parser* p, int32_t code, const char* opener, const char* closer, int32_t line) {
    if (code == kEndError || p->error) return;
    if (code == kEndInput) {
        syntax_error(p, "%s without %s (opened at line %d)", opener, closer, line);
        p->program->incomplete = true;
        return;
    }
    syntax_error(p, "%s where %s was expected (%s opened at line %d)", block_end_name(code), closer,
                 opener, line);
}

// ---- expressions ----

Expr* new_expr(ExprKind kind, int32_t line) {
    Expr* e = static_cast<Expr*>(xallocate_zeroed(1, sizeof(Expr)));
    e->kind = kind;
    e->line = line;
    e->height = 1;
    return e;
}

Expr* expr(Parser* p);

Expr* checked_height(Parser* p, Expr* e) {
    int32_t h = 0;
    if (e->left && e->left->height > h) h = e->left->height;
    if (e->right && e->right->height > h) h = e->right->height;
    for (int32_t i = 0; i < e->arg_count; i++)
        if (e->args[i]->height > h) h = e->args[i]->height;
    e->height = h + 1;
    if (e->height > kMaxExprHeight) {
        syntax_error(p, "expression too complex");
        free_expr(e);
        return nullptr;
    }
    return e;
}

Expr* binary(Parser* p, int32_t op, int32_t line, Expr* left, Expr* right) {
    Expr* e = new_expr(kExprBinary, line);
    e->op = op;
    e->left = left;
    e->right = right;
    return checked_height(p, e);
}

// After '(' : expressions separated by ',' up to ')'.
bool argument_list(Parser* p, ExprList* list) {
    advance(p);  // (
    if (at(p, kTokRParen)) {
        advance(p);
        return true;
    }
    for (;;) {
        Expr* e = expr(p);
        if (!e) return false;
        list->push(e);
        if (at(p, kTokComma)) {
            advance(p);
            continue;
        }
        if (at(p, kTokRParen)) {
            advance(p);
            return true;
        }
        expected(p, "')'");
        return false;
    }
}

Expr* name_node(Parser* p, char* name, int32_t line, ExprList* args, bool call) {
    Expr* e = new_expr(call ? kExprCall : kExprName, line);
    e->name = name;
    e->hash = name_hash(name);
    e->string_name = name_is_string(name);
    e->args = args->take(&e->arg_count);
    return checked_height(p, e);
}

Expr* primary(Parser* p) {
    int32_t line = p->current.line;
    switch (p->current.kind) {
        case kTokNumber: {
            Expr* e = new_expr(kExprNumber, line);
            e->number = static_cast<int64_t>(p->current.number);
            advance(p);
            return e;
        }
        case kTokString: {
            Expr* e = new_expr(kExprString, line);
            e->string = new_string(p->current.text, p->current.text_length);
            advance(p);
            return e;
        }
        case kTokIdent: {
            Owned<char> name(lower_copy(p->current.text));
            advance(p);
            ExprList args;
            bool call = at(p, kTokLParen);
            if (call && !argument_list(p, &args)) return nullptr;
            return name_node(p, name.take(), line, &args, call);
        }
        case kTokLParen: {
            advance(p);
            ExprOwner e(expr(p));
            if (!e) return nullptr;
            if (!at(p, kTokRParen)) {
                expected(p, "')'");
                return nullptr;
            }
            advance(p);
            return e.take();
        }
        case kTokRun:
            syntax_error(p, "RUN is a statement: use RUN$(...) to capture the output of a command");
            return nullptr;
        default:
            expected(p, "an expression");
            return nullptr;
    }
}

bool enter_level(Parser* p) {
    if (++p->expr_depth > kMaxExprDepth) {
        syntax_error(p, "expression too complex");
        p->expr_depth--;
        return false;
    }
    return true;
}

Expr* power(Parser* p) {
    ExprOwner left(primary(p));
    if (!left || !at(p, kTokCaret)) return left.take();
    int32_t line = p->current.line;
    advance(p);
    // The right operand nests like a sub-expression, so it holds a level too.
    if (!enter_level(p)) return nullptr;
    Expr* right = power(p);
    p->expr_depth--;
    if (!right) return nullptr;
    return binary(p, kTokCaret, line, left.take(), right);
}

Expr* unary(Parser* p) {
    if (!at(p, kTokPlus) && !at(p, kTokMinus)) return power(p);
    int32_t op = p->current.kind;
    int32_t line = p->current.line;
    if (!enter_level(p)) return nullptr;
    advance(p);
    Expr* operand = unary(p);
    p->expr_depth--;
    if (!operand || op == kTokPlus) return operand;
    Expr* e = new_expr(kExprUnary, line);
    e->op = kTokMinus;
    e->left = operand;
    return checked_height(p, e);
}

using Level = Expr* (*)(Parser*);

// One left-associative binary level.
Expr* left_assoc(Parser* p, Level operand, const int32_t* ops) {
    ExprOwner left(operand(p));
    while (left) {
        int32_t k = p->current.kind;
        bool match = false;
        for (const int32_t* o = ops; *o; o++)
            if (*o == k) match = true;
        if (!match) break;
        int32_t line = p->current.line;
        advance(p);
        Expr* right = operand(p);
        if (!right) return nullptr;
        left.reset(binary(p, k, line, left.take(), right));
    }
    return left.take();
}

constexpr int32_t kMulOps[] = {kTokStar, kTokSlash, kTokBackslash, kTokMod, 0};
constexpr int32_t kAddOps[] = {kTokPlus, kTokMinus, 0};
constexpr int32_t kShiftOps[] = {kTokShl, kTokShr, 0};
constexpr int32_t kCmpOps[] = {kTokEq, kTokNe, kTokLt, kTokGt, kTokLe, kTokGe, 0};
constexpr int32_t kAndOps[] = {kTokAnd, 0};
constexpr int32_t kOrOps[] = {kTokOr, kTokXor, 0};

Expr* mul_expr(Parser* p) { return left_assoc(p, unary, kMulOps); }
Expr* add_expr(Parser* p) { return left_assoc(p, mul_expr, kAddOps); }
Expr* shift_expr(Parser* p) { return left_assoc(p, add_expr, kShiftOps); }
Expr* cmp_expr(Parser* p) { return left_assoc(p, shift_expr, kCmpOps); }

Expr* not_expr(Parser* p) {
    if (!at(p, kTokNot)) return cmp_expr(p);
    int32_t line = p->current.line;
    if (!enter_level(p)) return nullptr;
    advance(p);
    Expr* operand = not_expr(p);
    p->expr_depth--;
    if (!operand) return nullptr;
    Expr* e = new_expr(kExprUnary, line);
    e->op = kTokNot;
    e->left = operand;
    return checked_height(p, e);
}

Expr* and_expr(Parser* p) { return left_assoc(p, not_expr, kAndOps); }

Expr* expr(Parser* p) {
    if (!enter_level(p)) return nullptr;
    Expr* e = left_assoc(p, and_expr, kOrOps);
    p->expr_depth--;
    return e;
}

// ---- statements ----

Statement* new_statement(StatementKind kind, int32_t line) {
    Statement* s = static_cast<Statement*>(xallocate_zeroed(1, sizeof(Statement)));
    s->kind = kind;
    s->line = line;
    return s;
}

void set_name(Statement* s, char* name) {
    s->name = name;
    s->hash = name_hash(name);
}

void take_args(Statement* s, ExprList* list) { s->args = list->take(&s->arg_count); }

int32_t parse_block(Parser* p, StatementList* list, bool main_list);
bool parse_statement(Parser* p, bool top_level, Statement** out);

// Expressions separated by ',' (at least one).
bool expression_list(Parser* p, ExprList* list) {
    for (;;) {
        Expr* e = expr(p);
        if (!e) return false;
        list->push(e);
        if (!at(p, kTokComma)) return true;
        advance(p);
    }
}

// A call statement's arguments: a parenthesised list that ends the statement, or
// expressions up to the end of the statement.
bool call_arguments(Parser* p, Statement* s, ExprList* pre, bool have_parens) {
    if (have_parens) {
        take_args(s, pre);
        if (!at_statement_end(p)) {
            syntax_error(p, "unexpected %s", token_display_name(p->current.kind));
            return false;
        }
        return true;
    }
    ExprList list;
    if (!at_statement_end(p) && !expression_list(p, &list)) return false;
    take_args(s, &list);
    return true;
}

// Assignment or procedure call, starting at the identifier.
// Whether value is name + ... : a chain of '+' whose leftmost operand is the variable.
bool appends_to(const Expr* value, const char* name) {
    if (value->kind != kExprBinary || value->op != kTokPlus) return false;
    const Expr* x = value;
    while (x->kind == kExprBinary && x->op == kTokPlus) x = x->left;
    return x->kind == kExprName && strcmp(x->name, name) == 0;
}

Statement* assignment_or_call(Parser* p, int32_t line) {
    Owned<char> name(lower_copy(p->current.text));
    int32_t name_line = p->current.line;
    advance(p);
    ExprList args;
    bool parens = at(p, kTokLParen);
    if (parens && !argument_list(p, &args)) return nullptr;
    if (at(p, kTokEq)) {
        if (parens && args.count != 1) {
            syntax_error(p, "array index expected: %s(index) = value", name.get());
            return nullptr;
        }
        ExprOwner target(name_node(p, name.take(), name_line, &args, parens));
        if (!target) return nullptr;
        advance(p);
        Expr* value = expr(p);
        if (!value) return nullptr;
        Statement* s = new_statement(kStmtAssign, line);
        s->expr[0] = target.take();
        s->expr[1] = value;
        if (s->expr[0]->kind == kExprName && s->expr[0]->string_name && appends_to(value, s->expr[0]->name))
            s->flags = kAssignAppends;
        return s;
    }
    StatementOwner s(new_statement(kStmtCall, line));
    set_name(s.get(), name.take());
    if (!call_arguments(p, s.get(), &args, parens)) return nullptr;
    return s.take();
}

// Statements separated by ':' up to the end of the line or ELSE (single-line IF).
bool single_line_body(Parser* p, StatementList* list, bool stop_at_else) {
    for (;;) {
        Statement* s = nullptr;
        if (!parse_statement(p, false, &s)) return false;
        if (s) grow_push(list->items, list->count, list->capacity, s);
        if (at(p, kTokColon)) {
            advance(p);
            continue;
        }
        if (at(p, kTokEol) || at(p, kTokEnd)) return true;
        if (stop_at_else && at(p, kTokElse)) return true;
        syntax_error(p, "expected end of statement, found %s", token_display_name(p->current.kind));
        return false;
    }
}

IfBranch* add_branch(Statement* s, Expr* condition) {
    s->branches = static_cast<IfBranch*>(
        xresize(s->branches, static_cast<uint64_t>(s->branch_count + 1) * sizeof(IfBranch)));
    IfBranch* b = &s->branches[s->branch_count++];
    memset(b, 0, sizeof *b);
    b->condition = condition;
    return b;
}

Statement* if_statement(Parser* p, int32_t line) {
    advance(p);
    Expr* cond = expr(p);
    if (!cond) return nullptr;
    StatementOwner s(new_statement(kStmtIf, line));
    IfBranch* b = add_branch(s.get(), cond);
    if (!at(p, kTokThen)) {
        expected(p, "then");
        return nullptr;
    }
    advance(p);
    if (!at(p, kTokEol) && !at(p, kTokEnd)) {
        // The branches of a single-line IF nest like blocks.
        if (++p->block_depth > kMaxBlockDepth) {
            syntax_error(p, "blocks nested too deeply");
            p->block_depth--;
            return nullptr;
        }
        bool ok = single_line_body(p, &b->body, true);
        if (ok && at(p, kTokElse)) {
            advance(p);
            IfBranch* e = add_branch(s.get(), nullptr);
            ok = single_line_body(p, &e->body, false);
        }
        p->block_depth--;
        if (!ok) return nullptr;
        return s.take();
    }
    bool had_else = false;
    int32_t code = parse_block(p, &b->body, false);
    for (;;) {
        if (code == kEndElseif || code == kEndElse) {
            if (had_else) {
                syntax_error(p, "%s after ELSE", code == kEndElse ? "ELSE" : "ELSEIF");
                break;
            }
            advance(p);
            ExprOwner c;
            if (code == kEndElseif) {
                c.reset(expr(p));
                if (!c) break;
                if (!at(p, kTokThen)) {
                    expected(p, "then");
                    break;
                }
                advance(p);
            } else {
                had_else = true;
            }
            IfBranch* nb = add_branch(s.get(), c.take());
            code = parse_block(p, &nb->body, false);
            continue;
        }
        if (code == kEndIf) return s.take();
        block_mismatch(p, code, "IF", "END IF", line);
        break;
    }
    return nullptr;
}

Statement* for_statement(Parser* p, int32_t line) {
    advance(p);
    if (!at(p, kTokIdent)) {
        expected(p, "loop variable");
        return nullptr;
    }
    if (name_is_string(p->current.text)) {
        syntax_error(p, "FOR variable must be numeric");
        return nullptr;
    }
    StatementOwner s(new_statement(kStmtFor, line));
    set_name(s.get(), lower_copy(p->current.text));
    advance(p);
    if (!expect(p, kTokEq) || !(s->expr[0] = expr(p)) || !expect(p, kTokTo) ||
        !(s->expr[1] = expr(p))) {
        return nullptr;
    }
    if (at(p, kTokStep)) {
        advance(p);
        if (!(s->expr[2] = expr(p))) return nullptr;
    }
    int32_t code = parse_block(p, &s->body, false);
    if (code != kEndNext) {
        block_mismatch(p, code, "FOR", "NEXT", line);
        return nullptr;
    }
    advance(p);  // NEXT
    if (at(p, kTokIdent)) {
        if (compare_nocase(p->current.text, s->name) != 0) {
            syntax_error(p, "NEXT %s does not match FOR %s", p->current.text, s->name);
            return nullptr;
        }
        advance(p);
    }
    return s.take();
}

Statement* while_statement(Parser* p, int32_t line) {
    advance(p);
    StatementOwner s(new_statement(kStmtWhile, line));
    if (!(s->expr[0] = expr(p))) return nullptr;
    int32_t code = parse_block(p, &s->body, false);
    if (code == kEndWend) {
        advance(p);
        return s.take();
    }
    if (code == kEndWhile) return s.take();
    block_mismatch(p, code, "WHILE", "WEND", line);
    return nullptr;
}

Statement* do_statement(Parser* p, int32_t line) {
    advance(p);
    StatementOwner s(new_statement(kStmtDo, line));
    if (at(p, kTokWhile) || at(p, kTokUntil)) {
        s->flags = at(p, kTokWhile) ? kDoWhile : kDoUntil;
        advance(p);
        if (!(s->expr[0] = expr(p))) return nullptr;
    }
    int32_t code = parse_block(p, &s->body, false);
    if (code != kEndLoop) {
        block_mismatch(p, code, "DO", "LOOP", line);
        return nullptr;
    }
    advance(p);  // LOOP
    if (at(p, kTokWhile) || at(p, kTokUntil)) {
        if (s->flags) {
            syntax_error(p, "DO loop has a condition both at the start and at the end");
            return nullptr;
        }
        s->flags = at(p, kTokWhile) ? kLoopWhile : kLoopUntil;
        advance(p);
        if (!(s->expr[0] = expr(p))) return nullptr;
    }
    return s.take();
}

Expr* case_item(Parser* p) {
    int32_t line = p->current.line;
    if (at(p, kTokIs)) {
        advance(p);
        int32_t op = p->current.kind;
        if (op < kTokEq || op > kTokGe) {
            expected(p, "a comparison operator");
            return nullptr;
        }
        advance(p);
        Expr* x = expr(p);
        if (!x) return nullptr;
        return binary(p, op, line, nullptr, x);
    }
    ExprOwner a(expr(p));
    if (!a || !at(p, kTokTo)) return a.take();
    advance(p);
    Expr* b = expr(p);
    if (!b) return nullptr;
    return binary(p, kTokTo, line, a.take(), b);
}

Statement* select_statement(Parser* p, int32_t line) {
    advance(p);
    if (!at(p, kTokCase)) {
        expected(p, "case");
        return nullptr;
    }
    advance(p);
    StatementOwner s(new_statement(kStmtSelect, line));
    if (!(s->expr[0] = expr(p))) return nullptr;
    StatementList before;
    memset(&before, 0, sizeof before);
    int32_t code = parse_block(p, &before, false);
    bool stray = before.count > 0 || before.label_count > 0;
    free_list(&before);
    if (code != kEndError && stray) {
        syntax_error(p, "statements between SELECT CASE and the first CASE");
        return nullptr;
    }
    bool had_else = false;
    while (code == kEndCase) {
        if (had_else) {
            syntax_error(p, "CASE after CASE ELSE");
            return nullptr;
        }
        advance(p);  // CASE
        s->cases = static_cast<SelectCase*>(
            xresize(s->cases, static_cast<uint64_t>(s->case_count + 1) * sizeof(SelectCase)));
        SelectCase* c = &s->cases[s->case_count++];
        memset(c, 0, sizeof *c);
        if (at(p, kTokElse)) {
            advance(p);
            c->is_else = true;
            had_else = true;
        } else {
            ExprList items;
            for (;;) {
                Expr* item = case_item(p);
                if (!item) return nullptr;
                items.push(item);
                if (!at(p, kTokComma)) break;
                advance(p);
            }
            c->items = items.take(&c->item_count);
        }
        code = parse_block(p, &c->body, false);
    }
    if (code == kEndSelect) return s.take();
    block_mismatch(p, code, "SELECT CASE", "END SELECT", line);
    return nullptr;
}

Procedure* find_defined(Program* prog, const char* name) {
    for (Procedure* q = prog->procedures; q; q = q->next)
        if (strcmp(q->name, name) == 0) return q;
    return nullptr;
}

bool definition(Parser* p, int32_t line, bool top_level) {
    bool is_function = at(p, kTokFunction);
    const char* word = is_function ? "FUNCTION" : "SUB";
    if (!top_level || p->inside_procedure) {
        syntax_error(p, "%s definitions are only allowed at the top level", word);
        return false;
    }
    advance(p);
    if (!at(p, kTokIdent)) {
        expected(p, "a name");
        return false;
    }
    if (!is_function && name_is_string(p->current.text)) {
        syntax_error(p, "SUB names cannot end with $");
        return false;
    }
    char* name = lower_copy(p->current.text);
    if (find_defined(p->program, name)) {
        syntax_error(p, "%s is defined twice", name);
        release(name);
        return false;
    }
    Procedure* proc = static_cast<Procedure*>(xallocate_zeroed(1, sizeof(Procedure)));
    proc->name = name;
    proc->is_function = is_function;
    proc->returns_string = name_is_string(name);
    proc->line = line;
    advance(p);
    if (at(p, kTokLParen)) {
        advance(p);
        if (at(p, kTokRParen)) {
            advance(p);
        } else {
            int32_t capacity = 0, hash_capacity = 0, hash_count = 0, kind_capacity = 0, kind_count = 0;
            for (;;) {
                if (!at(p, kTokIdent)) {
                    expected(p, "a parameter name");
                    free_procedure(proc);
                    return false;
                }
                char* param = lower_copy(p->current.text);
                grow_push(proc->param_hashes, hash_count, hash_capacity, name_hash(param));
                grow_push(proc->param_strings, kind_count, kind_capacity, name_is_string(param));
                grow_push(proc->params, proc->param_count, capacity, param);
                advance(p);
                if (at(p, kTokComma)) {
                    advance(p);
                    continue;
                }
                if (at(p, kTokRParen)) {
                    advance(p);
                    break;
                }
                expected(p, "')'");
                free_procedure(proc);
                return false;
            }
        }
    }
    p->inside_procedure = true;
    p->inside_function = is_function;
    int32_t code = parse_block(p, &proc->body, false);
    p->inside_procedure = false;
    p->inside_function = false;
    int32_t want = is_function ? kEndFunction : kEndSub;
    if (code != want) {
        block_mismatch(p, code, word, is_function ? "END FUNCTION" : "END SUB", line);
        free_procedure(proc);
        return false;
    }
    proc->next = p->program->procedures;
    p->program->procedures = proc;
    return true;
}

Expr* declared_name(Parser* p) {
    if (!at(p, kTokIdent)) {
        expected(p, "a variable name");
        return nullptr;
    }
    Owned<char> name(lower_copy(p->current.text));
    int32_t line = p->current.line;
    advance(p);
    ExprList args;
    bool parens = at(p, kTokLParen);
    if (parens) {
        if (!argument_list(p, &args)) return nullptr;
        if (args.count != 1) {
            syntax_error(p, "arrays have exactly one dimension: %s(size)", name.get());
            return nullptr;
        }
    }
    return name_node(p, name.take(), line, &args, parens);
}

Statement* declaration(Parser* p, int32_t line, int32_t kind) {
    if (kind == kTokLocal && !p->inside_procedure) {
        syntax_error(p, "LOCAL can only be used inside SUB or FUNCTION");
        return nullptr;
    }
    advance(p);
    StatementOwner s(new_statement(kind == kTokLocal ? kStmtLocal : kStmtDim, line));
    s->flags = kind == kTokRedim ? 1 : 0;
    ExprList list;
    for (;;) {
        Expr* e = declared_name(p);
        if (!e) return nullptr;
        list.push(e);
        if (!at(p, kTokComma)) break;
        advance(p);
    }
    take_args(s.get(), &list);
    return s.take();
}

Statement* print_statement(Parser* p, int32_t line) {
    advance(p);
    StatementOwner s(new_statement(kStmtPrint, line));
    ExprList items;
    int32_t sep_count = 0, sep_capacity = 0;
    while (!at_statement_end(p)) {
        Expr* e = expr(p);
        if (!e) return nullptr;
        items.push(e);
        char sep = 0;
        if (at(p, kTokComma) || at(p, kTokSemicolon)) {
            sep = at(p, kTokComma) ? ',' : ';';
            advance(p);
        }
        grow_push(s->separators, sep_count, sep_capacity, sep);
        if (!sep) break;
    }
    take_args(s.get(), &items);
    return s.take();
}

// The variable INPUT reads into.
bool input_target(Parser* p, Statement* s) {
    if (!at(p, kTokIdent)) {
        expected(p, "a variable");
        return false;
    }
    Owned<char> name(lower_copy(p->current.text));
    int32_t line = p->current.line;
    advance(p);
    ExprList args;
    bool parens = at(p, kTokLParen);
    if (parens && (!argument_list(p, &args) || args.count != 1)) {
        if (!p->error) syntax_error(p, "array index expected: %s(index) = value", name.get());
        return false;
    }
    s->expr[1] = name_node(p, name.take(), line, &args, parens);
    return s->expr[1] != nullptr;
}

Statement* input_statement(Parser* p, int32_t line) {
    advance(p);
    StatementOwner s(new_statement(kStmtInput, line));
    if (!at(p, kTokIdent)) {
        if (!(s->expr[0] = expr(p))) return nullptr;
        if (!at(p, kTokSemicolon) && !at(p, kTokComma)) {
            expected(p, "';' after the INPUT prompt");
            return nullptr;
        }
        advance(p);
    }
    return input_target(p, s.get()) ? s.take() : nullptr;
}

Statement* run_statement(Parser* p, int32_t line) {
    advance(p);
    StatementOwner s(new_statement(kStmtRun, line));
    ExprList list;
    if (!expression_list(p, &list)) return nullptr;
    take_args(s.get(), &list);
    if (at(p, kTokTo) || at(p, kTokAppend)) {
        s->flags = at(p, kTokTo) ? kRunTo : kRunAppend;
        advance(p);
        if (!(s->expr[0] = expr(p))) return nullptr;
    }
    return s.take();
}

// COLOR, LOCATE, PAUSE, SLEEP: a list of expressions with a count rule.
Statement* console_statement(Parser* p, int32_t line, int32_t kind) {
    const char* word = token_display_name(kind);
    advance(p);
    StatementKind stmt_kind = kind == kTokColor    ? kStmtColor
                        : kind == kTokLocate ? kStmtLocate
                        : kind == kTokPause  ? kStmtPause
                                             : kStmtSleep;
    int32_t lo = 0, hi = 2;
    if (kind == kTokLocate) lo = hi = 2;
    if (kind == kTokPause) hi = 1;
    if (kind == kTokSleep) lo = hi = 1;
    StatementOwner s(new_statement(stmt_kind, line));
    ExprList list;
    bool need = lo > 0;
    if ((need || !at_statement_end(p)) && !expression_list(p, &list)) return nullptr;
    if (list.count < lo || list.count > hi) {
        syntax_error(p, "wrong number of arguments for %s", word);
        return nullptr;
    }
    take_args(s.get(), &list);
    return s.take();
}

Statement* optional_value(Parser* p, StatementKind kind, int32_t line) {
    StatementOwner s(new_statement(kind, line));
    if (!at_statement_end(p) && !(s->expr[0] = expr(p))) return nullptr;
    return s.take();
}

// Parses one statement. *out is null for an empty statement or a definition.
bool parse_statement(Parser* p, bool top_level, Statement** out) {
    *out = nullptr;
    int32_t line = p->current.line;
    int32_t kind = p->current.kind;
    Statement* s = nullptr;
    switch (kind) {
        case kTokEnd:
        case kTokEol:
        case kTokColon:
            return true;
        case kTokIdent:
            s = assignment_or_call(p, line);
            break;
        case kTokLet:
            advance(p);
            if (!at(p, kTokIdent)) {
                expected(p, "a variable");
                return false;
            }
            s = assignment_or_call(p, line);
            break;
        case kTokIf: s = if_statement(p, line); break;
        case kTokFor: s = for_statement(p, line); break;
        case kTokWhile: s = while_statement(p, line); break;
        case kTokDo: s = do_statement(p, line); break;
        case kTokSelect: s = select_statement(p, line); break;
        case kTokExit: {
            advance(p);
            int32_t k = p->current.kind;
            if (k == kTokFor || k == kTokWhile || k == kTokDo) {
                s = new_statement(kStmtExit, line);
                s->sub_kind = k;
                advance(p);
            } else if (k == kTokSub || k == kTokFunction) {
                s = new_statement(kStmtReturn, line);
                advance(p);
            } else {
                s = optional_value(p, kStmtEnd, line);
            }
            break;
        }
        case kTokContinue: {
            advance(p);
            int32_t k = p->current.kind;
            if (k != kTokFor && k != kTokWhile && k != kTokDo) {
                expected(p, "FOR, WHILE or DO");
                return false;
            }
            s = new_statement(kStmtContinue, line);
            s->sub_kind = k;
            advance(p);
            break;
        }
        case kTokGoto:
            advance(p);
            if (!at(p, kTokIdent)) {
                expected(p, "a label");
                return false;
            }
            s = new_statement(kStmtGoto, line);
            set_name(s, lower_copy(p->current.text));
            advance(p);
            break;
        case kTokSub:
        case kTokFunction:
            return definition(p, line, top_level);
        case kTokCall: {
            advance(p);
            if (!at(p, kTokIdent)) {
                expected(p, "a SUB name");
                return false;
            }
            s = assignment_or_call(p, line);
            if (s && s->kind != kStmtCall) {
                // CALL name = ...: not a call.
                free_statement(s);
                syntax_error(p, "expected a SUB name, found %s", token_display_name(kTokEq));
                return false;
            }
            break;
        }
        case kTokReturn:
            advance(p);
            s = optional_value(p, kStmtReturn, line);
            if (s) s->flags = p->inside_function ? kReturnInFunction : 0;
            break;
        case kTokLocal:
        case kTokDim:
        case kTokRedim:
            s = declaration(p, line, kind);
            break;
        case kTokPrint: s = print_statement(p, line); break;
        case kTokInput: s = input_statement(p, line); break;
        case kTokRun: s = run_statement(p, line); break;
        case kTokEndKw:
            advance(p);
            s = optional_value(p, kStmtEnd, line);
            break;
        case kTokCls:
            advance(p);
            s = new_statement(kStmtCls, line);
            break;
        case kTokColor:
        case kTokLocate:
        case kTokPause:
        case kTokSleep:
            s = console_statement(p, line, kind);
            break;
        default:
            expected(p, "a statement");
            return false;
    }
    if (!s) return false;
    *out = s;
    return true;
}

bool is_label_line(Parser* p) {
    if (!p->previous_was_eol || !at(p, kTokIdent)) return false;
    if (peek(p)->kind != kTokColon) return false;
    int32_t after = peek2(p)->kind;
    return after == kTokEol || after == kTokEnd;
}

int32_t parse_block_inner(Parser* p, StatementList* list, bool main_list) {
    for (;;) {
        while (at(p, kTokEol) || at(p, kTokColon)) advance(p);
        switch (p->current.kind) {
            case kTokEnd: return kEndInput;
            case kTokError:
                syntax_error(p, "%s", p->lexer.message);
                return kEndError;
            case kTokElse: return kEndElse;
            case kTokElseif: return kEndElseif;
            case kTokNext: return kEndNext;
            case kTokWend: return kEndWend;
            case kTokLoop: return kEndLoop;
            case kTokCase: return kEndCase;
            case kTokEndKw: {
                int32_t k = peek(p)->kind;
                int32_t code = k == kTokIf ? kEndIf
                               : k == kTokWhile ? kEndWhile
                               : k == kTokSelect ? kEndSelect
                               : k == kTokSub ? kEndSub
                               : k == kTokFunction ? kEndFunction
                                                   : -1;
                if (code >= 0) {
                    advance(p);
                    advance(p);
                    return code;
                }
                break;
            }
            default: break;
        }
        if (is_label_line(p)) {
            char* name = lower_copy(p->current.text);
            for (int32_t i = 0; i < list->label_count; i++) {
                if (strcmp(list->labels[i].name, name) == 0) {
                    syntax_error(p, "label %s defined twice", name);
                    release(name);
                    return kEndError;
                }
            }
            Label label{name, list->count};
            grow_push(list->labels, list->label_count, list->label_capacity, label);
            advance(p);  // name
            advance(p);  // ':'
            continue;
        }
        Statement* s = nullptr;
        if (!parse_statement(p, main_list, &s)) return kEndError;
        if (s) grow_push(list->items, list->count, list->capacity, s);
        if (!at(p, kTokEol) && !at(p, kTokColon) && !at(p, kTokEnd) && !at(p, kTokElse)) {
            syntax_error(p, "expected end of statement, found %s", token_display_name(p->current.kind));
            return kEndError;
        }
    }
}

int32_t parse_block(Parser* p, StatementList* list, bool main_list) {
    if (++p->block_depth > kMaxBlockDepth) {
        syntax_error(p, "blocks nested too deeply");
        p->block_depth--;
        return kEndError;
    }
    int32_t code = parse_block_inner(p, list, main_list);
    p->block_depth--;
    return code;
}

void free_procedures(Program* program) {
    Procedure* q = program->procedures;
    while (q) {
        Procedure* next = q->next;
        free_procedure(q);
        q = next;
    }
    program->procedures = nullptr;
}

}  // namespace

void free_expr(Expr* e) {
    if (!e) return;
    if (e->string) string_release(e->string);
    release(e->name);
    free_expr(e->left);
    free_expr(e->right);
    for (int32_t i = 0; i < e->arg_count; i++) free_expr(e->args[i]);
    release(e->args);
    release(e);
}

bool parse_program(const char* text, uint64_t length, Program* program) {
    memset(program, 0, sizeof *program);
    Parser* p = static_cast<Parser*>(xallocate_zeroed(1, sizeof(Parser)));
    p->program = program;
    p->previous_was_eol = true;
    lexer_init(&p->lexer, text, length);
    take_token(&p->current, &p->lexer.token);
    lexer_next(&p->lexer);
    int32_t code = parse_block(p, &program->main, true);
    if (code != kEndInput && code != kEndError)
        syntax_error(p, "%s without a matching opening statement", block_end_name(code));
    bool ok = !p->error;
    release(p->current.text);
    if (p->has_pushed) release(p->pushed.text);
    lexer_free(&p->lexer);
    release(p);
    if (!ok) {
        free_list(&program->main);
        free_procedures(program);
    } else {
        resolve_names(program);
    }
    return ok;
}

void free_program(Program* program) {
    if (!program) return;
    free_list(&program->main);
    free_procedures(program);
    free_slots(program);
}

}  // namespace tarn
