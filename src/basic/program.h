// The parsed form of a TARN BASIC program: expression and statement trees, statement
// lists with their labels, and the SUB/FUNCTION definitions.
#pragma once
#include "basic/values.h"

namespace tarn {

struct Procedure;
struct BuiltinFunctionDescriptor;
struct ScriptEngine;
struct Expr;
struct Statement;

// How a node is evaluated, chosen for its shape once the program is parsed and its names
// resolved (prepare_expr, prepare_statement).
using EvalFn = bool (*)(ScriptEngine*, const Expr*, Value*);
// For an expression made only of numbers, numeric names and operators (no string, no
// call that could be anything but an array element): status 1 with its value; 0 when a
// name is not a numeric variable after all (nothing was changed: the caller evaluates
// the expression the general way); -1 after an error (reported). Two words, returned in
// registers.
struct NumberResult {
    int64_t value;
    int64_t status;
};
using NumberFn = NumberResult (*)(ScriptEngine*, const Expr*);

// Results of executing a statement or a statement list.
enum ExecResult : int32_t {
    kExecDone = 0,
    kExecExitFor = 1,
    kExecExitWhile = 2,
    kExecExitDo = 3,
    kExecContinueFor = 4,
    kExecContinueWhile = 5,
    kExecContinueDo = 6,
    kExecReturn = 7,
    kExecGoto = 8,
    kExecEnd = 9,
    kExecError = 10,
};
using ExecFn = ExecResult (*)(ScriptEngine*, const Statement*);

enum ExprKind : int32_t {
    kExprNumber = 0,
    kExprString = 1,
    kExprName = 2,
    kExprCall = 3,
    kExprUnary = 4,
    kExprBinary = 5,
};

enum StatementKind : int32_t {
    kStmtAssign = 6,
    kStmtPrint = 7,
    kStmtInput = 8,
    kStmtIf = 9,
    kStmtFor = 10,
    kStmtWhile = 11,
    kStmtDo = 12,
    kStmtSelect = 13,
    kStmtExit = 14,
    kStmtContinue = 15,
    kStmtGoto = 16,
    kStmtCall = 17,
    kStmtReturn = 18,
    kStmtEnd = 19,
    kStmtDim = 20,
    kStmtLocal = 21,
    kStmtRun = 22,
    kStmtCls = 23,
    kStmtColor = 24,
    kStmtLocate = 25,
    kStmtPause = 26,
    kStmtSleep = 27,
    kStmtDefinition = 28,
};

// DO flags.
constexpr int32_t kDoWhile = 1;
constexpr int32_t kDoUntil = 2;
constexpr int32_t kLoopWhile = 4;
constexpr int32_t kLoopUntil = 8;
// RETURN flags: the statement is in the body of a FUNCTION.
constexpr int32_t kReturnInFunction = 1;
// Assignment flags: the value is a '+' chain that starts with the assigned string variable.
constexpr int32_t kAssignAppends = 1;
// RUN flags.
constexpr int32_t kRunTo = 1;
constexpr int32_t kRunAppend = 2;

// What the evaluator learned about a name, valid while `key` equals the engine's
// resolution key (see ScriptEngine::resolve_key).
struct NameCache {
    uint64_t key;
    Variable* global;       // the global variable of this name, once it exists
    uint64_t globals_version; // ScriptEngine::globals_version when `global` was found absent
    const Procedure* param_owner; // the procedure for which param_index was worked out
    int32_t param_index;    // parameter of param_owner with this name, or -1
    Procedure* procedure;   // the user procedure of this name, or null
    bool procedure_known;   // `procedure` has been looked up
    const BuiltinFunctionDescriptor* builtin;  // the built-in of this name, or null
    uint32_t builtin_epoch; // 1 + the registry generation in which `builtin` was looked up
};

// Where the variable of a name is found, worked out once after parsing: a parameter of
// the procedure whose body holds the name, the global of that name, or (for names that a
// LOCAL statement of the procedure declares) the frame's locals first, then the global.
enum NameScope : int32_t {
    kScopeGlobal = 0,
    kScopeParameter = 1,
    kScopeLocal = 2,
};

// One per distinct name of a program, shared by every node that uses the name: the
// engine's global of that name once found, and whether the name is that of a built-in
// function or of a procedure.
struct GlobalSlot {
    char* name;
    uint32_t hash;
    Variable* var;              // never goes stale: an engine's globals are never removed
    uint64_t absent_version;    // 1 + ScriptEngine::globals_version when found absent
    uint64_t function_key;      // the resolution key for which names_function holds
    uint32_t function_epoch;    // 1 + the registry generation for which it holds
    bool names_function;
    bool builtin_known;         // builtin_name was worked out (when the program was resolved)
    bool builtin_name;          // the name of a built-in function then
};

// What NumberFn reads without a call.
enum ExprLeaf : uint8_t {
    kLeafOther = 0,
    kLeafNumber = 1,        // a number literal
    kLeafParameter = 2,     // a numeric parameter
    kLeafGlobal = 3,        // a numeric global name
};

struct Expr {
    EvalFn run;
    NumberFn numeric;       // null unless the expression has the shape NumberFn describes
    ExprKind kind;
    ExprLeaf leaf;
    int32_t line;
    int32_t op;             // TokenKind of a unary or binary operator (kTokTo for a CASE range)
    int64_t number;
    SharedString* string;
    char* name;
    Expr* left;
    Expr* right;
    Expr** args;
    int32_t arg_count;
    // evaluation helpers
    int32_t height;
    uint32_t hash;          // name_hash(name)
    bool string_name;       // name ends in '$'
    bool callable;          // the name is a built-in function's or a procedure's of the program
    NameScope scope;
    int32_t param_index;    // kScopeParameter: the position in the parameter list
    GlobalSlot* slot;       // every name node
    mutable NameCache cache;
};

struct Statement;

struct Label {
    char* name;
    int32_t index;          // the statement that follows the label
};

struct StatementList {
    Statement** items;
    int32_t count;
    int32_t capacity;
    Label* labels;
    int32_t label_count;
    int32_t label_capacity;
};

struct IfBranch {
    Expr* condition;        // null for ELSE
    StatementList body;
};

struct SelectCase {
    Expr** items;
    int32_t item_count;
    bool is_else;
    StatementList body;
};

struct Statement {
    ExecFn exec;
    StatementKind kind;
    int32_t line;
    int32_t sub_kind;       // EXIT / CONTINUE: the loop keyword's TokenKind
    char* name;
    Expr* expr[3];
    Expr** args;
    int32_t arg_count;
    char* separators;       // PRINT: ',', ';' or 0 per item
    IfBranch* branches;
    int32_t branch_count;
    SelectCase* cases;
    int32_t case_count;
    StatementList body;
    int32_t flags;
    // evaluation helpers
    uint32_t hash;          // name_hash(name)
    NameScope scope;        // FOR: where its variable is
    int32_t param_index;
    GlobalSlot* slot;
    mutable NameCache cache;
};

struct Procedure {
    char* name;
    bool is_function;
    char** params;
    int32_t param_count;
    StatementList body;
    int32_t line;
    Procedure* next;
    // evaluation helpers
    uint32_t* param_hashes;
    bool* param_strings;    // parameter i holds strings
    bool returns_string;    // a FUNCTION whose name ends in '$'
};

constexpr uint64_t kProgramMessageSize = 200;

struct Program {
    StatementList main;
    Procedure* procedures;  // newest first
    char message[kProgramMessageSize];
    int32_t error_line;
    bool incomplete;
    // The names of the program (see GlobalSlot) and the engine they were last bound to.
    GlobalSlot** slots;
    int32_t slot_count;
    uint64_t bound_engine;
};

// Codes returned by the block parser.
enum BlockEnd : int32_t {
    kEndInput = 0,
    kEndNext = 1,
    kEndWend = 2,
    kEndLoop = 3,
    kEndElse = 4,
    kEndElseif = 5,
    kEndCase = 6,
    kEndIf = 7,
    kEndSub = 8,
    kEndFunction = 9,
    kEndSelect = 10,
    kEndWhile = 11,
    kEndError = 12,
};

// Limits of the parser.
constexpr int32_t kMaxExprDepth = 64;
constexpr int32_t kMaxBlockDepth = 64;
// Height of an expression tree (long operator chains included), bounding the evaluator's recursion.
constexpr int32_t kMaxExprHeight = 512;

// Parses a whole text. On failure the tree is freed and message, error_line and
// incomplete describe the first syntax error.
bool parse_program(const char* text, uint64_t length, Program* program);
void free_program(Program* program);
// Gives every name node of a parsed program its scope and slot (called by parse_program).
void resolve_names(Program* program);
// Forgets what the slots learned about another engine's globals.
void bind_program(Program* program, uint64_t engine_id);
void free_slots(Program* program);
void free_expr(Expr* expr);
// Choose the evaluation routines of a resolved node (its subexpressions are prepared first).
void prepare_expr(Expr* expr);
void prepare_statement(Statement* statement);

}  // namespace tarn
