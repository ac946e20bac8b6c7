// The commands that print or examine file contents: cat, type, more, head, tail, grep,
// wc, hexdump, comp, cmp and parse; and the pieces of them that are plain text logic
// (numbers typed to them, the standard-format reader of parse).
#pragma once
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/string_buffer.h"
#include "runtime/util.h"

namespace tarn {

// Registers the text command table.
void register_text_commands();

// One routine per command file; each registers that file's rows.
void register_cat_commands();
void register_comp_commands();
void register_grep_command();
void register_hexdump_command();
void register_head_tail_commands();
void register_wc_command();
void register_parse_command();

// A number typed to a text command: the shell's number syntax (decimal, 0x/&h, 0b/&b,
// &o, "_" between digits, blanks around). False when it does not parse or its magnitude
// does not fit in 63 bits (the shell's reader would wrap it silently).
bool read_text_number(const char* text, int64_t* value);

// The canonical path of a FILE argument (newly allocated); when it does not resolve,
// reports "%s: not found" under the command's name and returns null.
char* resolve_file_argument(const char* command, const char* argument);

// read_text_file without the copy when decoding would change nothing (no byte order
// mark, no carriage return): the decoded text, NUL-terminated, freed with release.
[[nodiscard]] ShellError read_text(const char* path, char** text, uint64_t* length);

// ---- byte scans (eight bytes at a time) ----

// The first offset in [from, end) holding the byte (or either byte), or end.
uint64_t scan_for_byte(const uint8_t* bytes, uint64_t from, uint64_t end, uint8_t byte);
uint64_t scan_for_either(const uint8_t* bytes, uint64_t from, uint64_t end, uint8_t a, uint8_t b);
// How many bytes in [from, end) equal the byte.
uint64_t count_bytes_equal(const uint8_t* bytes, uint64_t from, uint64_t end, uint8_t byte);

struct TextCounts {
    uint64_t lines;  // line feed bytes
    uint64_t words;  // runs of bytes that are neither space nor 0x09..0x0d
};
TextCounts count_text(const uint8_t* bytes, uint64_t n);

// ---- the standard-format (comma separated) reader of parse ----

// One field of a line: the raw bytes between its delimiters. A quoted field's bytes are
// those inside the quotes, still holding doubled quotes.
struct CsvField {
    const char* start;
    uint64_t length;
    bool quoted;
};

// Splits one line (without its line feed) into fields: leading spaces are skipped; a
// field that starts with a double quote runs to the next lone double quote ("" stands for
// one; whatever follows the closing quote up to the next comma is ignored; an unclosed
// quote runs to the end of the line); any other field runs to the next comma and loses
// its trailing spaces. A line always has at least one field.
void split_csv_line(const char* line, uint64_t length, Vector<CsvField>& fields);
// The field's value: doubled quotes of a quoted field become one.
void csv_field_value(const CsvField& field, StringBuffer& out);

struct ParseQuery {
    const char* table;  // compared with field 0 ignoring ASCII case
    uint64_t column;    // the field printed (0 is the table name)
    int64_t instance;   // -i: only the instance-th matching line (0: all)
    int64_t section;    // -s: only lines after the section-th "ShellCommand" line (0: all)
};
using ParseEmit = void (*)(void* context, const char* value, uint64_t length);

// Runs the query over decoded text (lines end at line feeds; a final line feed starts no
// further line); emit receives the selected column of every line found that has it.
// Returns whether any line was found. Stops early when stop (may be null) returns true.
bool parse_standard_format(const char* text, uint64_t length, const ParseQuery& query,
                           ParseEmit emit, void* context, bool (*stop)() = nullptr);

}  // namespace tarn
