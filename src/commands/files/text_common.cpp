// What the text commands share: numbers typed to them, FILE arguments.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

int digit_of(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool read_text_number(const char* text, int64_t* value) {
    int64_t parsed = 0;
    // The syntax is the shell's; only the magnitude is checked again here, because
    // parse_integer lets it wrap.
    if (!parse_integer(text, &parsed)) return false;
    const char* p = text;
    while (is_space(*p)) p++;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    unsigned radix = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        radix = 16;
        p += 2;
    } else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B')) {
        radix = 2;
        p += 2;
    } else if (p[0] == '&') {
        int kind = to_lower(p[1]);
        radix = kind == 'h' ? 16 : kind == 'o' ? 8 : 2;
        p += 2;
    }
    uint64_t magnitude = 0;
    for (; *p; p++) {
        if (*p == '_') continue;
        int d = digit_of(*p);
        if (d < 0) break;
        if (mul_overflows(magnitude, radix, &magnitude) ||
            add_overflows(magnitude, static_cast<uint64_t>(d), &magnitude))
            return false;
    }
    if (magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
    *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

ShellError read_text(const char* path, char** text, uint64_t* length) {
    *text = nullptr;
    *length = 0;
    char* raw = nullptr;
    uint64_t n = 0;
    ShellError err = read_whole_file(path, &raw, &n);
    if (err != kOk) return err;
    const auto* bytes = reinterpret_cast<const uint8_t*>(raw);
    const bool marked = (n >= 2 && bytes[0] == 0xff && bytes[1] == 0xfe) ||
                        (n >= 3 && bytes[0] == 0xef && bytes[1] == 0xbb && bytes[2] == 0xbf);
    // Text without a byte order mark and without carriage returns decodes to itself.
    if (!marked && scan_for_byte(bytes, 0, n, '\r') == n) {
        *text = raw;
        *length = n;
        return kOk;
    }
    char* decoded = decode_text(bytes, n, length);
    release(raw);
    if (!decoded) return kErrOutOfMemory;
    *text = decoded;
    return kOk;
}

char* resolve_file_argument(const char* command, const char* argument) {
    char* path = resolve_path(argument);
    if (!path) report_error(command, "%s: not found", argument);
    return path;
}

}  // namespace tarn
