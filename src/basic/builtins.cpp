// The language's own built-in functions: the table registered first at start-up.
#include "basic/engine.h"
#include "basic/functions.h"
#include "basic/library.h"

#include "runtime/console.h"
#include "runtime/memory.h"
#include "runtime/strings.h"
#include "runtime/text.h"

namespace tarn {

namespace {

constexpr int64_t kMaxRepeat = 1000000;
constexpr int64_t kMaxCodePoint = 1114111;

// ---- characters of UTF-8 strings ----

uint64_t char_count(SharedString* s) {
    if (string_is_ascii(s)) return s->length;
    return utf8_count(s->bytes(), s->length);
}

// Byte offset of the character `index` (0-based) counted from byte `from`, clamped to the end.
uint64_t char_offset(SharedString* s, uint64_t from, uint64_t index) {
    if (string_is_ascii(s)) {
        uint64_t left = s->length - from;
        return from + (index < left ? index : left);
    }
    return from + utf8_offset(s->bytes() + from, s->length - from, index);
}

// Bytes of the first character (a malformed byte is one character); 0 for an empty string.
uint64_t first_char_length(const char* bytes, uint64_t n) {
    if (n == 0) return 0;
    return utf8_offset(bytes, n, 1);
}

Value substring(SharedString* s, uint64_t from, uint64_t to) {
    if (from == 0 && to == s->length) {
        string_retain(s);
        return string_value(s);
    }
    return string_value(new_string(s->bytes() + from, to - from));
}

bool out_of_memory(ScriptEngine* e, const Expr* call) { return engine_error(e, call->line, "out of memory"); }

// A string of `count` copies of `unit` (unit_length bytes) followed or preceded by `text`.
// Sizes are checked; false after reporting an error.
bool repeat_around(ScriptEngine* e, const Expr* call, const char* unit, uint64_t unit_length,
                   uint64_t count, const char* text, uint64_t text_length, bool text_first, Value* result) {
    uint64_t pad, total;
    if (mul_overflows(unit_length, count, &pad) || add_overflows(pad, text_length, &total))
        return out_of_memory(e, call);
    SharedString* s = try_new_string_raw(total);
    if (!s) return out_of_memory(e, call);
    char* p = s->bytes();
    if (text_first) {
        memcpy(p, text, text_length);
        p += text_length;
    }
    if (unit_length == 1) {
        memset(p, unit[0], count);
        p += count;
    } else {
        for (uint64_t i = 0; i < count; i++, p += unit_length) memcpy(p, unit, unit_length);
    }
    if (!text_first) memcpy(p, text, text_length);
    *result = string_value(s);
    return true;
}

bool fn_len(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    *result = number_value(static_cast<int64_t>(char_count(args[0].string)));
    return true;
}

bool fn_left(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    SharedString* s = args[0].string;
    int64_t n = args[1].number;
    uint64_t end = n <= 0 ? 0 : char_offset(s, 0, static_cast<uint64_t>(n));
    *result = substring(s, 0, end);
    return true;
}

bool fn_right(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    SharedString* s = args[0].string;
    int64_t n = args[1].number;
    if (n <= 0) {
        *result = string_value(empty_string());
        return true;
    }
    uint64_t total = char_count(s);
    uint64_t skip = static_cast<uint64_t>(n) >= total ? 0 : total - static_cast<uint64_t>(n);
    *result = substring(s, char_offset(s, 0, skip), s->length);
    return true;
}

bool fn_mid(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    SharedString* s = args[0].string;
    int64_t start = args[1].number;
    if (start < 1) return engine_error(e, call->line, "MID$: start position must be 1 or more");
    if (count > 2 && args[2].number < 0) return engine_error(e, call->line, "MID$: negative length");
    uint64_t from = char_offset(s, 0, static_cast<uint64_t>(start) - 1);
    uint64_t to = count > 2 ? char_offset(s, from, static_cast<uint64_t>(args[2].number)) : s->length;
    *result = substring(s, from, to);
    return true;
}

bool fn_str(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    *result = string_value(value_to_string(args[0]));
    return true;
}

bool fn_chr(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    int64_t code = args[0].number;
    if (code < 0 || code > 1114111) return engine_error(e, call->line, "CHR$: invalid character code");
    if (code < 128) {
        *result = string_value(ascii_string(static_cast<char>(code)));
        return true;
    }
    char bytes[4];
    uint64_t n = utf8_encode(static_cast<uint32_t>(code), bytes);
    *result = string_value(new_string(bytes, n));
    return true;
}

bool fn_asc(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    SharedString* s = args[0].string;
    if (s->length == 0) return engine_error(e, call->line, "ASC: empty string");
    uint32_t cp = 0;
    utf8_decode(s->bytes(), s->length, &cp);
    *result = number_value(cp);
    return true;
}

bool fn_val(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    SharedString* s = args[0].string;
    const char* p = s->bytes();
    uint64_t n = s->length, i = 0;
    while (i < n && is_space(static_cast<unsigned char>(p[i]))) i++;
    uint64_t run = 0;
    while (i + run < n && run < 79) {
        int c = static_cast<unsigned char>(p[i + run]);
        if (!(is_alnum(c) || c == '&' || c == '+' || c == '-' || c == '_')) break;
        run++;
    }
    int64_t value = 0;
    for (; run > 0; run--)
        if (text_to_number(p + i, run, &value)) break;
    *result = number_value(run > 0 ? value : 0);
    return true;
}

bool fn_err(ScriptEngine* e, const Expr*, Value*, int32_t, Value* result) {
    *result = number_value(e->err);
    return true;
}

bool fn_argc(ScriptEngine* e, const Expr*, Value*, int32_t, Value* result) {
    *result = number_value(e->argc > 1 ? e->argc - 1 : 0);
    return true;
}

bool fn_arg(ScriptEngine* e, const Expr*, Value* args, int32_t, Value* result) {
    int64_t n = args[0].number;
    if (n < 0 || n >= e->argc) *result = string_value(empty_string());
    else *result = string_value(new_string_text(e->argv[n]));
    return true;
}

bool fn_ubound(ScriptEngine* e, const Expr* call, Value*, int32_t, Value* result) {
    Variable* v = array_argument(e, call->args[0], false);
    if (!v) return false;
    *result = number_value(v->count - 1);
    return true;
}

bool fn_ticks(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    *result = number_value(static_cast<int64_t>(milliseconds()));
    return true;
}

bool fn_run(ScriptEngine* e, const Expr* call, Value*, int32_t, Value* result) {
    StringBuffer captured;
    if (!run_command(e, call->line, call->args, call->arg_count, 0, nullptr, &captured)) return false;
    uint64_t n = captured.length;
    while (n > 0 && (captured.data[n - 1] == '\n' || captured.data[n - 1] == '\r')) n--;
    *result = string_value(new_string(captured.c_str(), n));
    return true;
}


bool fn_instr(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    int64_t start = 1;
    Value* text = &args[0];
    if (count == 3) {
        if (args[0].kind != kValueNumber) return engine_error(e, call->line, "INSTR([start,] text$, find$)");
        start = args[0].number < 1 ? 1 : args[0].number;
        text = &args[1];
    }
    if (text[0].kind != kValueString || text[1].kind != kValueString)
        return engine_error(e, call->line, "INSTR([start,] text$, find$)");
    SharedString* s = text[0].string;
    SharedString* find = text[1].string;
    uint64_t chars = char_count(s);
    *result = number_value(0);
    if (static_cast<uint64_t>(start) - 1 > chars) return true;  // starts beyond the end
    uint64_t from = char_offset(s, 0, static_cast<uint64_t>(start) - 1);
    if (find->length == 0) {
        *result = number_value(start);
        return true;
    }
    if (find->length > s->length) return true;
    const char* p = s->bytes();
    for (uint64_t i = from; i + find->length <= s->length; i++) {
        if (p[i] == find->bytes()[0] && memcmp(p + i, find->bytes(), find->length) == 0) {
            uint64_t position = string_is_ascii(s) ? i : utf8_count(p, i);
            *result = number_value(static_cast<int64_t>(position) + 1);
            return true;
        }
    }
    return true;
}

bool convert_case(Value* args, Value* result, bool upper) {
    SharedString* s = args[0].string;
    SharedString* r = new_string(s->bytes(), s->length);
    char* p = r->bytes();
    for (uint64_t i = 0; i < r->length; i++)
        p[i] = static_cast<char>(upper ? to_upper(static_cast<unsigned char>(p[i]))
                                       : to_lower(static_cast<unsigned char>(p[i])));
    *result = string_value(r);
    return true;
}

bool fn_ucase(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) { return convert_case(args, result, true); }
bool fn_lcase(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) { return convert_case(args, result, false); }

bool trim(Value* args, Value* result, bool left, bool right) {
    SharedString* s = args[0].string;
    const char* p = s->bytes();
    uint64_t from = 0, to = s->length;
    if (left)
        while (from < to && is_space(static_cast<unsigned char>(p[from]))) from++;
    if (right)
        while (to > from && is_space(static_cast<unsigned char>(p[to - 1]))) to--;
    *result = substring(s, from, to);
    return true;
}

bool fn_trim(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) { return trim(args, result, true, true); }
bool fn_ltrim(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) { return trim(args, result, true, false); }
bool fn_rtrim(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) { return trim(args, result, false, true); }

bool fn_replace(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    SharedString* s = args[0].string;
    SharedString* find = args[1].string;
    SharedString* with = args[2].string;
    if (find->length == 0 || find->length > s->length) {
        *result = substring(s, 0, s->length);
        return true;
    }
    const char* p = s->bytes();
    // First pass: the size of the result, checked; second pass: the copy.
    uint64_t total = 0;
    char* out = nullptr;
    SharedString* r = nullptr;
    for (int pass = 0; pass < 2; pass++) {
        uint64_t i = 0, copied = 0, size = 0;
        while (i + find->length <= s->length) {
            if (memcmp(p + i, find->bytes(), find->length) != 0) {
                i++;
                continue;
            }
            if (out) {
                memcpy(out, p + copied, i - copied);
                out += i - copied;
                memcpy(out, with->bytes(), with->length);
                out += with->length;
            } else if (add_overflows(size, i - copied, &size) || add_overflows(size, with->length, &size)) {
                return out_of_memory(e, call);
            }
            i += find->length;
            copied = i;
        }
        if (out) {
            memcpy(out, p + copied, s->length - copied);
            break;
        }
        if (add_overflows(size, s->length - copied, &total)) return out_of_memory(e, call);
        r = try_new_string_raw(total);
        if (!r) return out_of_memory(e, call);
        out = r->bytes();
    }
    *result = string_value(r);
    return true;
}

bool fn_string(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    int64_t n = args[0].number;
    if (n < 0 || n > kMaxRepeat) return engine_error(e, call->line, "STRING$: invalid count");
    char encoded[4];
    const char* unit = encoded;
    uint64_t unit_length;
    if (args[1].kind == kValueString) {
        SharedString* c = args[1].string;
        if (c->length == 0) return engine_error(e, call->line, "STRING$: empty character");
        unit = c->bytes();
        unit_length = first_char_length(c->bytes(), c->length);
    } else {
        int64_t code = args[1].number;
        if (code < 0 || code > kMaxCodePoint) return engine_error(e, call->line, "CHR$: invalid character code");
        unit_length = utf8_encode(static_cast<uint32_t>(code), encoded);
    }
    return repeat_around(e, call, unit, unit_length, static_cast<uint64_t>(n), "", 0, false, result);
}

bool fn_space(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    int64_t n = args[0].number;
    if (n < 0 || n > kMaxRepeat) return engine_error(e, call->line, "SPACE$: invalid count");
    return repeat_around(e, call, " ", 1, static_cast<uint64_t>(n), "", 0, false, result);
}

bool pad(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result, bool left) {
    SharedString* s = args[0].string;
    int64_t width = args[1].number;
    if (width < 0 || width > kMaxRepeat)
        return engine_error(e, call->line, "%s: invalid width", left ? "LPAD$" : "RPAD$");
    const char* unit = " ";
    uint64_t unit_length = 1;
    if (count > 2 && args[2].string->length > 0) {
        unit = args[2].string->bytes();
        unit_length = first_char_length(unit, args[2].string->length);
    }
    uint64_t chars = char_count(s);
    if (chars >= static_cast<uint64_t>(width)) {
        *result = substring(s, 0, s->length);
        return true;
    }
    return repeat_around(e, call, unit, unit_length, static_cast<uint64_t>(width) - chars, s->bytes(),
                         s->length, !left, result);
}

bool fn_lpad(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) { return pad(e, call, args, count, result, true); }
bool fn_rpad(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) { return pad(e, call, args, count, result, false); }

bool to_base(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result, uint32_t shift) {
    int64_t width = 1;
    if (count > 1) {
        if (args[1].number < 0 || args[1].number > 64) return engine_error(e, call->line, "invalid number of digits");
        width = args[1].number;
    }
    uint64_t value = static_cast<uint64_t>(args[0].number);
    char digits[64];
    uint64_t n = 0;
    uint64_t mask = (1u << shift) - 1;
    do {
        digits[n++] = "0123456789ABCDEF"[value & mask];
        value >>= shift;
    } while (value != 0);
    while (n < static_cast<uint64_t>(width)) digits[n++] = '0';
    SharedString* s = new_string_raw(n);
    for (uint64_t i = 0; i < n; i++) s->bytes()[i] = digits[n - 1 - i];
    *result = string_value(s);
    return true;
}

bool fn_hex(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) { return to_base(e, call, args, count, result, 4); }
bool fn_bin(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) { return to_base(e, call, args, count, result, 1); }
bool fn_oct(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) { return to_base(e, call, args, count, result, 3); }

// A field list under construction (values owned).
struct Fields {
    Value* items = nullptr;
    int64_t count = 0;
    int64_t capacity = 0;
    ~Fields() {
        for (int64_t i = 0; i < count; i++) value_release(items[i]);
        release(items);
    }
    bool add(const char* bytes, uint64_t n) {
        if (count == capacity) {
            int64_t grown = capacity ? capacity * 2 : 8;
            uint64_t size;
            if (mul_overflows(static_cast<uint64_t>(grown), sizeof(Value), &size)) return false;
            Value* more = static_cast<Value*>(resize(items, size));
            if (!more) return false;
            items = more;
            capacity = grown;
        }
        SharedString* s = try_new_string_raw(n);
        if (!s) return false;
        memcpy(s->bytes(), bytes, n);
        items[count++] = string_value(s);
        return true;
    }
    // Hands the values to the array.
    void store(Variable* array) {
        replace_array_elements(array, items, count);
        items = nullptr;
        count = capacity = 0;
    }
};

bool fn_split(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    Variable* array = string_array_argument(e, call->args[2], call->line, "SPLIT needs a string array (name ending with $)");
    if (!array) return false;
    SharedString* s = args[0].string;
    SharedString* sep = args[1].string;
    const char* p = s->bytes();
    uint64_t n = s->length;
    Fields fields;
    bool ok = true;
    if (n == 0) {
        // no fields
    } else if (sep->length == 0) {
        uint64_t i = 0;
        while (ok && i < n) {
            while (i < n && is_space(static_cast<unsigned char>(p[i]))) i++;
            uint64_t start = i;
            while (i < n && !is_space(static_cast<unsigned char>(p[i]))) i++;
            if (i > start) ok = fields.add(p + start, i - start);
        }
    } else {
        uint64_t start = 0, i = 0;
        while (ok && i + sep->length <= n) {
            if (memcmp(p + i, sep->bytes(), sep->length) == 0) {
                ok = fields.add(p + start, i - start);
                i += sep->length;
                start = i;
            } else {
                i++;
            }
        }
        if (ok) ok = fields.add(p + start, n - start);
    }
    if (!ok) return out_of_memory(e, call);
    int64_t count = fields.count;
    fields.store(array);
    *result = number_value(count);
    return true;
}

bool fn_join(ScriptEngine* e, const Expr* call, Value* args, int32_t, Value* result) {
    Variable* array = array_argument(e, call->args[0], false);
    if (!array) return false;
    SharedString* sep = args[1].string;
    char scratch[32];
    uint64_t total = 0;
    for (int64_t i = 0; i < array->count; i++) {
        uint64_t n = 0;
        value_text(array->elements[i], scratch, &n);
        if ((i > 0 && add_overflows(total, sep->length, &total)) || add_overflows(total, n, &total))
            return out_of_memory(e, call);
    }
    SharedString* s = try_new_string_raw(total);
    if (!s) return out_of_memory(e, call);
    char* out = s->bytes();
    for (int64_t i = 0; i < array->count; i++) {
        if (i > 0) {
            memcpy(out, sep->bytes(), sep->length);
            out += sep->length;
        }
        uint64_t n = 0;
        const char* text = value_text(array->elements[i], scratch, &n);
        memcpy(out, text, n);
        out += n;
    }
    *result = string_value(s);
    return true;
}

bool fn_abs(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    int64_t n = args[0].number;
    *result = number_value(n < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(n)) : n);
    return true;
}

bool fn_sgn(ScriptEngine*, const Expr*, Value* args, int32_t, Value* result) {
    int64_t n = args[0].number;
    *result = number_value(n < 0 ? -1 : (n > 0 ? 1 : 0));
    return true;
}

bool fn_min(ScriptEngine*, const Expr*, Value* args, int32_t count, Value* result) {
    int64_t m = args[0].number;
    for (int32_t i = 1; i < count; i++) m = args[i].number < m ? args[i].number : m;
    *result = number_value(m);
    return true;
}

bool fn_max(ScriptEngine*, const Expr*, Value* args, int32_t count, Value* result) {
    int64_t m = args[0].number;
    for (int32_t i = 1; i < count; i++) m = args[i].number > m ? args[i].number : m;
    *result = number_value(m);
    return true;
}

bool fn_rnd(ScriptEngine* e, const Expr* call, Value* args, int32_t count, Value* result) {
    if (count > 0 && args[0].number <= 0) return engine_error(e, call->line, "RND: limit must be positive");
    uint64_t x = e->random_state;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    e->random_state = x;
    if (count > 0) *result = number_value(static_cast<int64_t>(x % static_cast<uint64_t>(args[0].number)));
    else *result = number_value(static_cast<int64_t>(x >> 33));
    return true;
}

bool fn_platform(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    *result = string_value(new_string_text("UEFI x86_64"));
    return true;
}

bool fn_version(ScriptEngine*, const Expr*, Value*, int32_t, Value* result) {
    *result = string_value(new_string_text("0.2.1"));
    return true;
}

constexpr BuiltinFunctionDescriptor kCoreFunctions[] = {
    {"len", 1, 1, "s", fn_len},
    {"left$", 2, 2, "sn", fn_left},
    {"right$", 2, 2, "sn", fn_right},
    {"mid$", 2, 3, "snn", fn_mid},
    {"instr", 2, 3, "?", fn_instr},
    {"ucase$", 1, 1, "s", fn_ucase},
    {"lcase$", 1, 1, "s", fn_lcase},
    {"trim$", 1, 1, "s", fn_trim},
    {"ltrim$", 1, 1, "s", fn_ltrim},
    {"rtrim$", 1, 1, "s", fn_rtrim},
    {"replace$", 3, 3, "s", fn_replace},
    {"string$", 2, 2, "n?", fn_string},
    {"space$", 1, 1, "n", fn_space},
    {"lpad$", 2, 3, "sns", fn_lpad},
    {"rpad$", 2, 3, "sns", fn_rpad},
    {"chr$", 1, 1, "n", fn_chr},
    {"asc", 1, 1, "s", fn_asc},
    {"val", 1, 1, "s", fn_val},
    {"str$", 1, 1, "n", fn_str},
    {"hex$", 1, 2, "n", fn_hex},
    {"bin$", 1, 2, "n", fn_bin},
    {"oct$", 1, 2, "n", fn_oct},
    {"split", 3, 3, "ssa", fn_split},
    {"join$", 2, 2, "as", fn_join},
    {"ubound", 1, 1, "a", fn_ubound},
    {"abs", 1, 1, "n", fn_abs},
    {"sgn", 1, 1, "n", fn_sgn},
    {"min", 1, 16, "n", fn_min},
    {"max", 1, 16, "n", fn_max},
    {"rnd", 0, 1, "n", fn_rnd},
    {"err", 0, 0, "", fn_err},
    {"argc", 0, 0, "", fn_argc},
    {"arg$", 1, 1, "n", fn_arg},
    {"ticks", 0, 0, "", fn_ticks},
    {"date$", 0, 0, "", fn_date},
    {"time$", 0, 0, "", fn_time},
    {"key$", 0, 1, "n", fn_key},
    {"cwd$", 0, 0, "", fn_cwd},
    {"fileexists", 1, 1, "s", fn_fileexists},
    {"direxists", 1, 1, "s", fn_direxists},
    {"filesize", 1, 1, "s", fn_filesize},
    {"readfile$", 1, 1, "s", fn_readfile},
    {"writefile", 2, 2, "s?", fn_writefile},
    {"appendfile", 2, 2, "s?", fn_appendfile},
    {"dir$", 0, 1, "s", fn_dir},
    {"run$", 1, 16, "a", fn_run},
    {"menu", 2, 4, "ssnn", fn_menu},
    {"env$", 1, 1, "s", fn_env},
    {"setenv", 2, 3, "s?n", fn_setenv},
    {"delenv", 1, 1, "s", fn_delenv},
    {"records", 2, 2, "sa", fn_records},
    {"field$", 2, 2, "s", fn_field},
    {"platform$", 0, 0, "", fn_platform},
    {"version$", 0, 0, "", fn_version},
};
static_assert(array_size(kCoreFunctions) == 54, "function table");

}  // namespace

void register_basic_functions() { register_functions(kCoreFunctions, array_size(kCoreFunctions)); }

}  // namespace tarn
