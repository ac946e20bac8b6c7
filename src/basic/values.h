// TARN BASIC values (64-bit integers and shared byte strings), variables and scopes.
#pragma once
#include "runtime/util.h"

namespace tarn {

// An immutable byte string shared by reference count; the bytes follow the header
// and end with a NUL.
struct SharedString {
    int32_t refs;
    uint32_t flags;    // kStringAsciiKnown, kStringAscii: cached facts about the bytes
    uint64_t length;
    char* bytes() { return reinterpret_cast<char*>(this + 1); }
    const char* bytes() const { return reinterpret_cast<const char*>(this + 1); }
};

constexpr uint32_t kStringAsciiKnown = 1;
constexpr uint32_t kStringAscii = 2;
// Whether every byte is below 128 (then characters and bytes coincide); cached.
bool string_is_ascii(SharedString* s);

enum ValueKind : int32_t { kValueNumber = 0, kValueString = 1 };

// Small enough to pass by value. Copies are made with value_copy and dropped with
// value_release; a Value that is moved is simply copied bitwise and forgotten.
struct Value {
    int32_t kind;
    union {
        int64_t number;
        SharedString* string;
    };
};

inline Value number_value(int64_t n) {
    Value v;
    v.kind = kValueNumber;
    v.number = n;
    return v;
}
inline Value string_value(SharedString* s) {
    Value v;
    v.kind = kValueString;
    v.string = s;
    return v;
}
inline bool is_string(const Value& v) { return v.kind == kValueString; }

// Shared strings. new_string copies the bytes; the result has one reference.
SharedString* new_string(const char* bytes, uint64_t length);
SharedString* new_string_text(const char* text);
// An uninitialised string of `length` bytes for the caller to fill (NUL already set).
SharedString* new_string_raw(uint64_t length);
SharedString* empty_string();
// The one-byte string of an ASCII character (c below 128).
SharedString* ascii_string(char c);
// As new_string_raw, but null when memory runs out (for sizes a script chooses).
SharedString* try_new_string_raw(uint64_t length);
inline void string_retain(SharedString* s) { s->refs++; }
void string_release(SharedString* s);
// Bytes the string's block can hold without moving (its length or more).
uint64_t string_capacity(const SharedString* s);
// Appends the pieces to a string that holds its only reference, in place while its block
// has room and otherwise in a block at least twice as large, so that appending one piece
// at a time costs amortised linear time. Returns the string (it may have moved), or null
// when memory runs out or the length overflows; s is then as it was.
struct StringPiece {
    const char* bytes;
    uint64_t length;
};
SharedString* string_append_unique(SharedString* s, const StringPiece* pieces, int32_t count);

// Copies a value field by field (the bytes of the payload as they are). Used on the hot
// paths where a value written just before is read back: a copy in one wide load of
// narrower stores stalls the processor.
inline void move_value(Value* to, const Value* from) {
    to->kind = from->kind;
    __builtin_memcpy(&to->number, &from->number, sizeof to->number);
}

inline Value value_copy(const Value& v) {
    if (v.kind == kValueString) string_retain(v.string);
    return v;
}
inline void value_release(Value& v) {
    if (v.kind == kValueString) {
        string_release(v.string);
        v.kind = kValueNumber;
        v.number = 0;
    }
}

// Names ending in '$' hold strings.
bool name_is_string(const char* name);
Value default_value(const char* name);
// Negative, 0 or positive: numbers by value, strings byte by byte (shorter first on a tie).
int compare(const Value& a, const Value& b);
// A string's bytes, or the number in decimal (into `scratch`, at least 24 bytes).
const char* value_text(const Value& v, char* scratch, uint64_t* length);
// A new string holding the value's text.
SharedString* value_to_string(const Value& v);

// Text to number: blanks, sign, radix prefixes (0x 0b &h &b &o), digits with '_' ignored,
// trailing blanks; the value wraps. False when the text is not a number.
bool text_to_number(const char* text, uint64_t length, int64_t* out);

// 32-bit FNV-1a of the name bytes.
uint32_t name_hash(const char* name);

struct Variable {
    char* name;        // lower case, '$' included
    bool is_array;
    bool owns_name;    // false when the name is borrowed from a procedure's parameter list
    uint32_t hash;
    Value scalar;
    Value* elements;
    int64_t count;
    Variable* next;    // hash chain
};

struct Scope {
    Variable** buckets;
    int32_t bucket_count;
    int32_t entry_count;
};

Variable* scope_find(const Scope* scope, const char* name, uint32_t hash);
// Inserts a new variable (the caller knows the name is absent). `name` is copied unless
// `borrow_name` is set, in which case it must outlive the scope's entries.
Variable* scope_insert(Scope* scope, const char* name, uint32_t hash, bool borrow_name);
// Releases every variable but keeps the bucket array for reuse.
void scope_clear(Scope* scope);
// Releases everything.
void scope_free(Scope* scope);

// Releases a variable's values (scalar and elements); leaves it a scalar holding the default.
void variable_reset(Variable* var);

}  // namespace tarn
