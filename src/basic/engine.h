// The TARN BASIC interpreter: one ScriptEngine per script, -c run or interactive session.
#pragma once
#include <stdarg.h>
#include "basic/program.h"
#include "runtime/memory.h"
#include "runtime/string_buffer.h"

namespace tarn {

// One active SUB or FUNCTION call. Its local scope is the parameters, kept in an array in
// the order of the parameter list, and the LOCAL names in the hash table.
struct CallFrame {
    Scope locals;
    CallFrame* caller;
    Procedure* procedure;
    Value result;
    bool has_result;
    Variable* params;          // param_count live entries; the array is reused by later calls
    int32_t param_count;
    int32_t param_capacity;
};

// The local variable of this name in the frame (parameter or LOCAL), or null.
Variable* find_local(CallFrame* frame, const char* name, uint32_t hash);

// The listing DIR$ walks through (names are owned).
struct DirListing {
    char** names;
    uint64_t count;
    uint64_t position;
};

constexpr int32_t kMaxCallDepth = 200;
constexpr uint64_t kEngineMessageSize = 256;

struct ScriptEngine {
    Scope globals;
    CallFrame* frame;              // current call, null at top level
    Variable* params;              // frame->params of the current call (one load less on the way)
    Vector<Procedure*> procedures;
    Vector<Program*> kept;         // prompt programs that defined procedures
    int64_t err;                   // ERR: exit code of the last shell command
    int32_t argc;
    char** argv;                   // owned copies; argv[0] is the script path or -c text
    bool interactive;
    int32_t call_depth;
    const char* script_path;       // for error messages; null at the prompt and for -c
    bool error_pending;
    char error_message[kEngineMessageSize];
    int32_t error_line;
    bool end_requested;
    int32_t end_code;
    const char* goto_label;        // label named by the last GOTO (owned by the program)
    DirListing dir_listing;
    uint64_t random_state;
    // Bookkeeping of this implementation.
    int32_t flow_line;             // line of the last GOTO, EXIT, CONTINUE or RETURN
    bool interrupted;              // the pending error came from Ctrl-C
    uint64_t resolve_key;          // changes whenever cached name resolutions may be stale
    uint64_t globals_version;      // grows with every global variable created
    CallFrame* frame_pool;         // kMaxCallDepth frames, reused by depth
    int32_t break_countdown;       // statements until the next break check
    uint64_t engine_id;            // tells the programs bound to this engine (bind_program)
};

// ---- entry points used by the shell ----

ScriptEngine* engine_create(int argc, char** argv, bool interactive);
void engine_destroy(ScriptEngine* engine);
// Registers the program's procedures and runs it; returns the exit code.
int engine_run(ScriptEngine* engine, Program* program, const char* script_path);
// Parses and runs a text typed at the prompt; sets *incomplete (and returns 0) when a
// block is still open at the end of the text.
int run_text(ScriptEngine* engine, const char* text, bool* incomplete);
bool is_basic_line(ScriptEngine* engine, const char* line);
void set_err(ScriptEngine* engine, int64_t code);
int64_t get_err(ScriptEngine* engine);
bool ended(ScriptEngine* engine, int32_t* code);
// Reads, parses and runs a .tsb file; path is resolved, argv[0] is the path.
int run_script_file(const char* path, int argc, char** argv);
// Installs the interpreter's runners into the shell (the executor's script runner).
void install_basic_hooks();

// ---- for the evaluator, statements and built-in functions ----

// Records a runtime error (the first one wins). Always returns false.
bool engine_error(ScriptEngine* engine, int32_t line, const char* format, ...) TARN_PRINTF(3, 4);
bool engine_verror(ScriptEngine* engine, int32_t line, const char* format, va_list args);

bool eval(ScriptEngine* engine, const Expr* expr, Value* out);
bool eval_number(ScriptEngine* engine, const Expr* expr, int64_t* out);
bool eval_condition(ScriptEngine* engine, const Expr* expr, bool* out);
// Stores into a variable or array element; takes ownership of value (also on failure).
bool assign(ScriptEngine* engine, const Expr* target, Value value);
// target = target + a + b ...: appends to the variable's text in place when it holds the
// only reference, and otherwise does what evaluating and assigning would.
bool assign_append(ScriptEngine* engine, const Expr* target, const Expr* value);
// DIM, REDIM (statement flags 1) and LOCAL.
bool declare(ScriptEngine* engine, const Statement* statement, bool is_local);
Variable* lookup_variable(ScriptEngine* engine, const char* name);
Variable* get_or_create_variable(ScriptEngine* engine, const char* name);
// The array an 'a' argument names; null after an error.
Variable* array_argument(ScriptEngine* engine, const Expr* expr, bool create);
// The element selected by index_expr; null after an error.
Value* element(ScriptEngine* engine, Variable* array, const Expr* index_expr);
// Calls a user procedure with argument expressions; result may be null (discarded).
bool call_procedure(ScriptEngine* engine, Procedure* procedure, Expr* const* args, int32_t count,
                    int32_t line, Value* result);
Procedure* find_procedure(ScriptEngine* engine, const char* name);
// RUN and RUN$: runs a command line (one argument) or argument vector (several), with
// output to a file (flags kRunTo/kRunAppend and file) or into capture. Sets ERR; false
// after a runtime error or when the command asked the script to end.
bool run_command(ScriptEngine* engine, int32_t line, Expr* const* args, int32_t count,
                 int32_t flags, const Expr* file, StringBuffer* capture);

// Whether the interpreter's C++ stack use is beyond its budget (deep nesting of calls,
// scripts and captures); when it is, records an error and returns true.
bool stack_exhausted(ScriptEngine* engine, int32_t line);
// The budget, in bytes of stack below the outermost interpreter entry. Returns the old one.
uint64_t set_stack_budget(uint64_t bytes);

// A new resolution key (process-wide counter).
uint64_t next_resolve_key();

// Host tests: back to the start-up state (print column, stack tracking, function registry).
void reset_basic_state();

}  // namespace tarn
