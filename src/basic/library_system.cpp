// Built-in functions that reach outside the script: clock, keyboard, menu, files,
// directory listings, environment variables and -data records.
#include "basic/engine.h"
#include "basic/library.h"

#include "fs/files.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/environment.h"
#include "shell/line_editor.h"

namespace tarn {

namespace {

Value text_value(const char* text) { return string_value(new_string_text(text)); }

bool interrupted(ScriptEngine* e, const Expr* call) {
    if (!e->error_pending) e->interrupted = true;
    return engine_error(e, call->line, "interrupted (Ctrl-C)");
}

bool read_clock(efi::Time* t) { return clock_get_time(t) == efi::kSuccess; }

// The canonical path of a script's argument, or null after "invalid path: %s".
char* resolved_or_error(ScriptEngine* e, const Expr* call, SharedString* text) {
    char* path = resolve_path(text->bytes());
    if (!path) engine_error(e, call->line, "invalid path: %s", text->bytes());
    return path;
}

void set_result_and_err(ScriptEngine* e, Value* result, int64_t code) {
    e->err = code;
    *result = number_value(code);
}

bool store_text(ScriptEngine* e, const Expr* call, Value* args, Value* result, bool append) {
    char* path = resolved_or_error(e, call, args[0].string);
    if (!path) return false;
    char scratch[32];
    uint64_t n = 0;
    const char* text = value_text(args[1], scratch, &n);
    ShellError status;
    if (append) {
        File* file = nullptr;
        status = file_open(path, kOpenWrite | kOpenCreate | kOpenAppend, &file);
        if (status == kOk) {
            FileCloser closer(file);
            status = file_write_all(file, text, n);
            ShellError closed = closer.close();
            if (status == kOk) status = closed;
        }
    } else {
        status = write_whole_file(path, text, n);
    }
    release(path);
    set_result_and_err(e, result, status == kOk ? 0 : 1);
    return true;
}

void clear_listing(DirListing* listing) {
    for (uint64_t i = 0; i < listing->count; i++) release(listing->names[i]);
    release(listing->names);
    *listing = DirListing{};
}

// Starts a listing for DIR$(pattern$); leaves it empty when nothing matches.
void start_listing(DirListing* listing, SharedString* pattern) {
    clear_listing(listing);
    char* full = nullptr;
    if (pattern->length == 0) {
        const char* cwd = current_directory();
        if (!cwd || !cwd[0]) return;
        full = join_path(cwd, "*");
    } else {
        char* path = resolve_path(pattern->bytes());
        if (!path) return;
        FileStat st;
        if (!has_wildcard(pattern->bytes()) && file_stat(path, &st) == kOk && st.is_directory) {
            full = join_path(path, "*");
            release(path);
        } else {
            full = path;
        }
    }
    PathList found;
    expand_pattern(full, found);
    release(full);
    listing->names = found.items;
    listing->count = found.count;
    listing->position = 0;
    found.items = nullptr;
    found.count = found.capacity = 0;
}

}  // namespace

void replace_array_elements(Variable* array, Value* values, int64_t count) {
    if (array->elements) {
        for (int64_t i = 0; i < array->count; i++) value_release(array->elements[i]);
        release(array->elements);
    }
    array->elements = values;
    array->count = count;
    array->is_array = true;
}

Variable* string_array_argument(ScriptEngine* e, const Expr* arg, int32_t line, const char* message) {
    if (arg && (arg->kind == kExprName || (arg->kind == kExprCall && arg->arg_count == 0)) &&
        !name_is_string(arg->name)) {
        engine_error(e, line, "%s", message);
        return nullptr;
    }
    return array_argument(e, arg, true);
}

bool fn_date(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    efi::Time t;
    if (!read_clock(&t)) {
        *result = string_value(empty_string());
        return true;
    }
    char text[32];
    format_into(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
    *result = text_value(text);
    return true;
}

bool fn_time(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    efi::Time t;
    if (!read_clock(&t)) {
        *result = string_value(empty_string());
        return true;
    }
    char text[32];
    format_into(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    *result = text_value(text);
    return true;
}

bool fn_key(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    int64_t timeout = count > 0 ? args[0].number : 0;
    if (timeout < 0) timeout = -1;
    KeyEvent key;
    *result = string_value(empty_string());
    if (!read_key(timeout, &key)) return true;
    uint32_t c = key.character;
    if (c == kCharCtrlC || ((key.modifiers & kModControl) && (c == 'c' || c == 'C'))) {
        value_release(*result);
        return interrupted(e, call);
    }
    const char* name = nullptr;
    char text[8];
    if (c != 0) {
        if (c == 8) name = "BACKSPACE";
        else if (c == 9) name = "TAB";
        else if (c == 10 || c == 13) name = "ENTER";
        else if (c == 27) name = "ESC";
        else if (c >= 32 && c != 127 && c <= 0x10FFFF) {
            text[utf8_encode(c, text)] = 0;
            name = text;
        }
    } else {
        static constexpr const char* kScanNames[] = {nullptr, "UP", "DOWN", "RIGHT", "LEFT", "HOME",
                                                     "END", "INSERT", "DELETE", "PGUP", "PGDN"};
        uint16_t scan = key.scan_code;
        if (scan >= 1 && scan <= 10) {
            name = kScanNames[scan];
        } else if (scan >= 11 && scan <= 20) {
            format_into(text, sizeof text, "F%d", scan - 10);
            name = text;
        } else if (scan == kScanEscape) {
            name = "ESC";
        }
    }
    if (name) {
        value_release(*result);
        *result = text_value(name);
    }
    return true;
}

bool fn_cwd(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    const char* cwd = current_directory();
    *result = text_value(cwd ? cwd : "");
    return true;
}

bool fn_fileexists(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    char* path = resolve_path(args[0].string->bytes());
    FileStat st;
    bool yes = path && file_stat(path, &st) == kOk && !st.is_directory;
    release(path);
    *result = number_value(yes ? -1 : 0);
    return true;
}

bool fn_direxists(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    char* path = resolve_path(args[0].string->bytes());
    FileStat st;
    bool yes = path && file_stat(path, &st) == kOk && st.is_directory;
    release(path);
    *result = number_value(yes ? -1 : 0);
    return true;
}

bool fn_filesize(ScriptEngine* e, const Expr*, Value* args, int32_t, Value* result) {
    char* path = resolve_path(args[0].string->bytes());
    FileStat st;
    bool ok = path && file_stat(path, &st) == kOk && st.size <= static_cast<uint64_t>(INT64_MAX);
    release(path);
    e->err = ok ? 0 : 1;
    *result = number_value(ok ? static_cast<int64_t>(st.size) : -1);
    return true;
}

bool fn_readfile(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    char* path = resolved_or_error(e, call, args[0].string);
    if (!path) return false;
    char* data = nullptr;
    uint64_t length = 0;
    ShellError status = read_whole_file(path, &data, &length);
    release(path);
    SharedString* s = status == kOk ? try_new_string_raw(length) : nullptr;
    if (s) memcpy(s->bytes(), data, length);
    release(data);
    e->err = s ? 0 : 1;
    *result = string_value(s ? s : empty_string());
    return true;
}

bool fn_writefile(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    return store_text(e, call, args, result, false);
}

bool fn_appendfile(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    return store_text(e, call, args, result, true);
}

bool fn_dir(ScriptEngine* e, const Expr*, Value* args, int32_t count, Value* result) {
    DirListing* listing = &e->dir_listing;
    if (count > 0) start_listing(listing, args[0].string);
    if (listing->position >= listing->count) {
        *result = string_value(empty_string());
        return true;
    }
    *result = text_value(base_name(listing->names[listing->position++]));
    return true;
}

bool fn_menu(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    SharedString* list = args[1].string;
    uint64_t items = 1;
    for (uint64_t i = 0; i < list->length; i++)
        if (list->bytes()[i] == '|') items++;
    if (items > 100000) return engine_error(e, call->line, "MENU: too many items");
    char* copy = xstrndup(list->bytes(), list->length);
    const char** names = xallocate_array<const char*>(items);
    uint64_t n = 0;
    names[n++] = copy;
    for (char* p = copy; *p; p++) {
        if (*p == '|') {
            *p = 0;
            names[n++] = p + 1;
        }
    }
    // An embedded NUL ends the list early; the items after it are simply not shown.
    int64_t timeout = count > 2 ? args[2].number : 0;
    if (timeout < 0) timeout = 0;
    if (timeout > 86400 * 365) timeout = 86400 * 365;
    int64_t choice = count > 3 ? args[3].number : 1;
    if (choice < 1 || static_cast<uint64_t>(choice) > n) choice = 1;
    int chosen = menu(args[0].string->bytes(), names, static_cast<int>(n), static_cast<int>(timeout),
                      static_cast<int>(choice));
    release(names);
    release(copy);
    if (chosen < 0) return interrupted(e, call);
    *result = number_value(chosen);
    return true;
}

bool fn_env(ScriptEngine* e, const Expr*, Value* args, int32_t, Value* result) {
    char* value = get_variable(args[0].string->bytes());
    e->err = value ? 0 : 1;
    *result = text_value(value ? value : "");
    release(value);
    return true;
}

bool fn_setenv(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    char scratch[32];
    uint64_t n = 0;
    const char* text = value_text(args[1], scratch, &n);
    bool permanent = count > 2 && args[2].number != 0;
    const char* name = args[0].string->bytes();
    if (const char* why = set_variable(name, text, permanent))
        return engine_error(e, call->line, "SETENV %s: %s", name, why);
    set_result_and_err(e, result, 0);
    return true;
}

bool fn_delenv(ScriptEngine* e, const Expr*, Value* args, int32_t, Value* result) {
    const char* name = args[0].string->bytes();
    bool ok = variable_exists(name) && set_variable(name, nullptr, false) == nullptr;
    set_result_and_err(e, result, ok ? 0 : 1);
    return true;
}

bool fn_records(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    Variable* array = string_array_argument(e, call->args[1], call->line, "RECORDS needs a string array (name ending with $)");
    if (!array) return false;
    SharedString* s = args[0].string;
    const char* p = s->bytes();
    uint64_t n = s->length;
    // First pass counts, second pass stores.
    Value* values = nullptr;
    int64_t total = 0;
    for (int pass = 0; pass < 2; pass++) {
        int64_t count = 0;
        uint64_t i = 0;
        for (;;) {
            while (i < n && (p[i] == '\n' || p[i] == '\r')) i++;
            if (i >= n) break;
            uint64_t start = i, end = n;
            for (uint64_t j = i; j < n; j++) {
                if (p[j] != '\n') continue;
                if (j + 1 == n || p[j + 1] == '\n' || (p[j + 1] == '\r' && j + 2 < n && p[j + 2] == '\n')) {
                    end = j;
                    break;
                }
            }
            if (pass == 1) {
                SharedString* r = try_new_string_raw(end - start);
                if (!r) {
                    for (int64_t k = 0; k < count; k++) value_release(values[k]);
                    release(values);
                    return engine_error(e, call->line, "out of memory");
                }
                memcpy(r->bytes(), p + start, end - start);
                values[count] = string_value(r);
            }
            count++;
            i = end;
        }
        if (pass == 0) {
            total = count;
            uint64_t bytes;
            if (mul_overflows(static_cast<uint64_t>(count), sizeof(Value), &bytes))
                return engine_error(e, call->line, "out of memory");
            if (count > 0) {
                values = static_cast<Value*>(allocate(bytes));
                if (!values) return engine_error(e, call->line, "out of memory");
            }
        }
    }
    replace_array_elements(array, values, total);
    *result = number_value(total);
    return true;
}

bool fn_field(ScriptEngine* e, const Expr*, Value* args, int32_t, Value* result) {
    SharedString* record = args[0].string;
    SharedString* key = args[1].string;
    const char* p = record->bytes();
    uint64_t n = record->length, i = 0;
    while (i < n) {
        uint64_t end = i;
        while (end < n && p[end] != '\n') end++;
        uint64_t line = end - i;
        if (line > key->length && p[i + key->length] == '=' &&
            compare_nocase_n(p + i, key->bytes(), key->length) == 0 &&
            !memchr(key->bytes(), 0, key->length)) {
            uint64_t from = i + key->length + 1, to = end;
            if (to > from && p[to - 1] == '\r') to--;
            e->err = 0;
            *result = string_value(new_string(p + from, to - from));
            return true;
        }
        i = end + 1;
    }
    e->err = 1;
    *result = string_value(empty_string());
    return true;
}

}  // namespace tarn
