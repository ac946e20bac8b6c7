// Shared strings, value helpers, text-to-number and the variable hash tables.
#include "basic/values.h"

#include "runtime/exit.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

SharedString* new_string_raw(uint64_t length) {
    uint64_t total;
    if (add_overflows(length, sizeof(SharedString) + 1, &total)) fatal("out of memory");
    SharedString* s = static_cast<SharedString*>(xallocate(total));
    s->refs = 1;
    s->flags = 0;
    s->length = length;
    s->bytes()[length] = 0;
    return s;
}

SharedString* try_new_string_raw(uint64_t length) {
    uint64_t total;
    if (add_overflows(length, sizeof(SharedString) + 1, &total)) return nullptr;
    SharedString* s = static_cast<SharedString*>(allocate(total));
    if (!s) return nullptr;
    s->refs = 1;
    s->flags = 0;
    s->length = length;
    s->bytes()[length] = 0;
    return s;
}

SharedString* new_string(const char* bytes, uint64_t length) {
    SharedString* s = new_string_raw(length);
    if (length) memcpy(s->bytes(), bytes, length);
    return s;
}

SharedString* new_string_text(const char* text) { return new_string(text, strlen(text)); }

namespace {

// The empty string and the one-byte ASCII strings, shared by everyone and never freed:
// their count starts so high that releases never bring it to zero (and no append ever
// finds them unshared).
struct SmallString {
    SharedString header;
    char bytes[2];
};
constexpr int32_t kPermanentRefs = 1 << 30;
constexpr int32_t kSmallStrings = 129;  // 0..127 one byte, 128 empty
SmallString g_small[kSmallStrings];
bool g_small_ready = false;

[[gnu::noinline]] void make_small_strings() {
    for (int32_t i = 0; i < kSmallStrings; i++) {
        SmallString* s = &g_small[i];
        s->header.refs = kPermanentRefs;
        s->header.flags = kStringAsciiKnown | kStringAscii;
        s->header.length = i < 128 ? 1 : 0;
        s->bytes[0] = static_cast<char>(i < 128 ? i : 0);
        s->bytes[1] = 0;
    }
    g_small_ready = true;
}

SharedString* small_string(int32_t index) {
    if (!g_small_ready) [[unlikely]] make_small_strings();
    SharedString* s = &g_small[index].header;
    s->refs++;
    return s;
}

}  // namespace

SharedString* empty_string() { return small_string(128); }

SharedString* ascii_string(char c) { return small_string(static_cast<unsigned char>(c) & 0x7F); }

uint64_t string_capacity(const SharedString* s) {
    return allocation_size(s) - sizeof(SharedString) - 1;
}

SharedString* string_append_unique(SharedString* s, const StringPiece* pieces, int32_t count) {
    uint64_t length = s->length;
    unsigned char high = 0;
    for (int32_t i = 0; i < count; i++) {
        if (add_overflows(length, pieces[i].length, &length)) return nullptr;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(pieces[i].bytes);
        for (uint64_t k = 0; k < pieces[i].length; k++) high |= p[k];
    }
    uint64_t capacity = string_capacity(s);
    if (length > capacity) {
        uint64_t grown = capacity < 16 ? 32 : capacity * 2;
        if (grown < length || grown < capacity) grown = length;
        uint64_t total;
        if (add_overflows(grown, sizeof(SharedString) + 1, &total)) return nullptr;
        SharedString* moved = static_cast<SharedString*>(resize(s, total));
        if (!moved && grown > length) {
            // No room for the doubled block: try the exact size.
            if (add_overflows(length, sizeof(SharedString) + 1, &total)) return nullptr;
            moved = static_cast<SharedString*>(resize(s, total));
        }
        if (!moved) return nullptr;
        s = moved;
    }
    char* end = s->bytes() + s->length;
    for (int32_t i = 0; i < count; i++) {
        if (pieces[i].length) memcpy(end, pieces[i].bytes, pieces[i].length);
        end += pieces[i].length;
    }
    *end = 0;
    s->length = length;
    // The cached ASCII fact stays true only while every appended byte is below 128.
    if ((s->flags & kStringAsciiKnown) && (s->flags & kStringAscii) && (high & 0x80)) s->flags = kStringAsciiKnown;
    return s;
}

bool string_is_ascii(SharedString* s) {
    if (!(s->flags & kStringAsciiKnown)) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(s->bytes());
        unsigned char any = 0;
        for (uint64_t i = 0; i < s->length; i++) any |= p[i];
        s->flags = kStringAsciiKnown | ((any & 0x80) ? 0 : kStringAscii);
    }
    return (s->flags & kStringAscii) != 0;
}

void string_release(SharedString* s) {
    if (--s->refs == 0) release(s);
}

bool name_is_string(const char* name) {
    uint64_t n = strlen(name);
    return n > 0 && name[n - 1] == '$';
}

Value default_value(const char* name) {
    if (name_is_string(name)) return string_value(empty_string());
    return number_value(0);
}

int compare(const Value& a, const Value& b) {
    if (a.kind != kValueString || b.kind != kValueString) {
        if (a.kind == kValueString || b.kind == kValueString) return a.kind - b.kind;
        return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
    }
    uint64_t la = a.string->length, lb = b.string->length;
    uint64_t n = la < lb ? la : lb;
    int c = n ? memcmp(a.string->bytes(), b.string->bytes(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

const char* value_text(const Value& v, char* scratch, uint64_t* length) {
    if (v.kind == kValueString) {
        *length = v.string->length;
        return v.string->bytes();
    }
    *length = format_into(scratch, 24, "%lld", static_cast<long long>(v.number));
    return scratch;
}

SharedString* value_to_string(const Value& v) {
    if (v.kind == kValueString) {
        string_retain(v.string);
        return v.string;
    }
    char scratch[24];
    uint64_t n;
    const char* t = value_text(v, scratch, &n);
    return new_string(t, n);
}

bool text_to_number(const char* text, uint64_t length, int64_t* out) {
    uint64_t p = 0;
    auto at = [&](uint64_t i) -> int { return i < length ? static_cast<unsigned char>(text[i]) : -1; };
    while (p < length && is_space(at(p))) p++;
    bool negative = false;
    if (at(p) == '+' || at(p) == '-') {
        negative = at(p) == '-';
        p++;
    }
    unsigned base = 10;
    int c0 = at(p), c1 = to_lower(at(p + 1));
    if (c0 == '0' && (c1 == 'x' || c1 == 'b')) {
        base = c1 == 'x' ? 16 : 2;
        p += 2;
    } else if (c0 == '&' && (c1 == 'h' || c1 == 'b' || c1 == 'o')) {
        base = c1 == 'h' ? 16 : c1 == 'b' ? 2 : 8;
        p += 2;
    }
    uint64_t value = 0;
    bool any = false;
    for (; p < length; p++) {
        int c = at(p);
        if (c == '_') continue;
        unsigned d;
        if (is_digit(c)) d = static_cast<unsigned>(c - '0');
        else if (is_alpha(c)) d = static_cast<unsigned>(to_lower(c) - 'a' + 10);
        else break;
        if (d >= base) return false;
        value = value * base + d;
        any = true;
    }
    while (p < length && is_space(at(p))) p++;
    if (p != length || !any) return false;
    if (negative) value = 0 - value;
    *out = static_cast<int64_t>(value);
    return true;
}

uint32_t name_hash(const char* name) {
    uint32_t h = 2166136261u;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; p++) {
        h ^= *p;
        h *= 16777619u;
    }
    return h;
}

Variable* scope_find(const Scope* scope, const char* name, uint32_t hash) {
    if (scope->bucket_count == 0) return nullptr;
    for (Variable* v = scope->buckets[hash % static_cast<uint32_t>(scope->bucket_count)]; v; v = v->next)
        if (v->hash == hash && strcmp(v->name, name) == 0) return v;
    return nullptr;
}

namespace {

void rehash(Scope* scope, int32_t new_count) {
    Variable** buckets = xallocate_array<Variable*>(static_cast<uint64_t>(new_count));
    for (int32_t i = 0; i < scope->bucket_count; i++) {
        Variable* v = scope->buckets[i];
        while (v) {
            Variable* next = v->next;
            uint32_t b = v->hash % static_cast<uint32_t>(new_count);
            v->next = buckets[b];
            buckets[b] = v;
            v = next;
        }
    }
    release(scope->buckets);
    scope->buckets = buckets;
    scope->bucket_count = new_count;
}

void free_variable(Variable* v) {
    variable_reset(v);
    if (v->owns_name) release(v->name);
    release(v);
}

}  // namespace

Variable* scope_insert(Scope* scope, const char* name, uint32_t hash, bool borrow_name) {
    if (scope->bucket_count == 0) {
        rehash(scope, 16);
    } else if (scope->entry_count >= 2 * scope->bucket_count) {
        if (scope->bucket_count > (1 << 28)) fatal("out of memory");
        rehash(scope, scope->bucket_count * 4);
    }
    Variable* v = static_cast<Variable*>(xallocate_zeroed(1, sizeof(Variable)));
    v->owns_name = !borrow_name;
    v->name = borrow_name ? const_cast<char*>(name) : xstrdup(name);
    v->hash = hash;
    v->scalar = default_value(name);
    uint32_t b = hash % static_cast<uint32_t>(scope->bucket_count);
    v->next = scope->buckets[b];
    scope->buckets[b] = v;
    scope->entry_count++;
    return v;
}

void variable_reset(Variable* var) {
    value_release(var->scalar);
    if (var->elements) {
        for (int64_t i = 0; i < var->count; i++) value_release(var->elements[i]);
        release(var->elements);
        var->elements = nullptr;
    }
    var->count = 0;
    var->is_array = false;
}

void scope_clear(Scope* scope) {
    if (scope->entry_count == 0) return;
    for (int32_t i = 0; i < scope->bucket_count; i++) {
        Variable* v = scope->buckets[i];
        while (v) {
            Variable* next = v->next;
            free_variable(v);
            v = next;
        }
        scope->buckets[i] = nullptr;
    }
    scope->entry_count = 0;
}

void scope_free(Scope* scope) {
    scope_clear(scope);
    release(scope->buckets);
    scope->buckets = nullptr;
    scope->bucket_count = 0;
}

}  // namespace tarn
