// What the text commands share: numbers typed to them, FILE arguments.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"

namespace tarn {

bool read_text_number(const char* text, int64_t* value) {
    // The shell's number syntax, but a number that does not fit is refused, not wrapped.
    return parse_integer_in_range(text, value);
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
