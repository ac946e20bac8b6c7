// Handlers of the language's built-in function library shared between its source files
// (the table itself is in builtins.cpp).
#pragma once
#include "basic/functions.h"

namespace tarn {

// Program, console, file, environment and record functions (library_system.cpp).
bool fn_date(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_time(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_key(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_cwd(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_fileexists(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_direxists(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_filesize(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_readfile(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_writefile(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_appendfile(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_dir(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_menu(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_env(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_setenv(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_delenv(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_records(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);
bool fn_field(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result);

// Replaces the elements of an array variable with `count` values (taking them over).
void replace_array_elements(Variable* array, Value* values, int64_t count);
// The string array named by an 'a' argument, created when missing; null after an error
// (`message` when the name is not a string name).
Variable* string_array_argument(ScriptEngine* e, const Expr* arg, int32_t line, const char* message);

}  // namespace tarn
