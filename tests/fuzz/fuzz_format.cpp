// The formatter on arbitrary format strings. Every bounded result must agree with the
// unbounded one: same length, same prefix, always terminated, never written past.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/format.h"

namespace {

// Each directive consumes at most three arguments ('*' width, '*' precision, value).
constexpr int kMaxDirectives = 5;
constexpr uint64_t kBig = 8192;

// Every argument is a pointer to this text. On x86-64 every integer or pointer argument
// occupies one 8-byte slot, so %s reads a valid string and the integer conversions read
// (part of) the address.
const char kArgument[] = "arg-\xc3\xa9";

uint64_t run(char* destination, uint64_t size, const char* format) {
    const char* a = kArgument;
    return tarn::format_into(destination, size, format, a, a, a, a, a, a, a, a, a, a, a, a, a, a,
                             a, a);
}

void check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string format(reinterpret_cast<const char*>(data), size);
    format = format.c_str();  // a format ends at its first NUL
    int directives = 0;
    for (char& c : format)
        if (c == '%' && ++directives > kMaxDirectives) c = 'A';

    static char full[kBig];
    uint64_t n = run(full, sizeof full, format.c_str());
    check(run(nullptr, 0, format.c_str()) == n);
    uint64_t shown = n < kBig ? n : kBig - 1;
    check(full[shown] == '\0');

    const uint64_t sizes[] = {1, 2, 3, 7, 16, 100, n, n + 1, n + 2};
    for (uint64_t s : sizes) {
        if (s == 0 || s > kBig) continue;
        // A heap block of exactly s bytes lets the sanitizer see any write past the end.
        char* bounded = static_cast<char*>(malloc(s));
        check(run(bounded, s, format.c_str()) == n);
        uint64_t written = n < s ? n : s - 1;
        check(memcmp(bounded, full, written) == 0);
        check(bounded[written] == '\0');
        free(bounded);
    }
    return 0;
}
