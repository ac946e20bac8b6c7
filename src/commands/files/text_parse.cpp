// parse: one column of the standard-format (comma separated) output of UEFI Shell
// commands.
#include "commands/files/text_commands.h"
#include "fs/files.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int parse_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"parse", parse_command, "parse FILE TABLE COLUMN [-i INSTANCE] [-s INSTANCE]",
     "Extract a column from standard-format (comma separated) output",
     "  Prints field COLUMN of the lines whose first field is TABLE (1 is the first value).\n"
     "  -i N  only the N-th such line        -s N  only lines of the N-th ShellCommand\n"
     "  Exit code 0 when a line was found, 127 when none was.\n",
     0},
};

}  // namespace

void split_csv_line(const char* line, uint64_t length, Vector<CsvField>& fields) {
    fields.clear();
    uint64_t i = 0;
    for (;;) {
        while (i < length && line[i] == ' ') i++;
        CsvField field{line + i, 0, false};
        if (i < length && line[i] == '"') {
            field.quoted = true;
            uint64_t start = ++i;
            // To the next quote that is not doubled; "" stays in the raw bytes.
            while (i < length) {
                if (line[i] == '"') {
                    if (i + 1 < length && line[i + 1] == '"') {
                        i += 2;
                        continue;
                    }
                    break;
                }
                i++;
            }
            field.start = line + start;
            field.length = i - start;
            // Whatever follows the closing quote up to the next comma is ignored.
            while (i < length && line[i] != ',') i++;
        } else {
            uint64_t start = i;
            while (i < length && line[i] != ',') i++;
            uint64_t end = i;
            while (end > start && line[end - 1] == ' ') end--;
            field.start = line + start;
            field.length = end - start;
        }
        fields.push(field);
        if (i >= length) break;
        i++;  // the comma: another field follows, even when it is empty
    }
}

void csv_field_value(const CsvField& field, StringBuffer& out) {
    clear(out);
    if (!field.quoted) {
        append_bytes(out, field.start, field.length);
        return;
    }
    for (uint64_t i = 0; i < field.length; i++) {
        append_char(out, field.start[i]);
        if (field.start[i] == '"' && i + 1 < field.length && field.start[i + 1] == '"') i++;
    }
}

namespace {

bool value_is(const StringBuffer& value, const char* name, uint64_t name_length) {
    return value.length == name_length && compare_nocase_n(value.c_str(), name, name_length) == 0;
}

void emit_line(void*, const char* value, uint64_t length) {
    out_write(value, length);
    out_write("\n", 1);
}

}  // namespace

bool parse_standard_format(const char* text, uint64_t length, const ParseQuery& query,
                           ParseEmit emit, void* context, bool (*stop)()) {
    Vector<CsvField> fields;
    StringBuffer value;
    const uint64_t table_length = strlen(query.table);
    int64_t section = 0;
    int64_t instance = 0;
    bool found = false;
    uint64_t pos = 0;
    uint64_t lines = 0;
    while (pos < length) {
        if (stop && (++lines & 1023) == 0 && stop()) break;
        const void* lf = memchr(text + pos, '\n', length - pos);
        uint64_t end = lf ? static_cast<uint64_t>(static_cast<const char*>(lf) - text) : length;
        split_csv_line(text + pos, end - pos, fields);
        pos = end + 1;
        csv_field_value(fields[0], value);
        if (value_is(value, "ShellCommand", 12) && section < INT64_MAX) section++;
        if (!value_is(value, query.table, table_length)) continue;
        if (query.section != 0 && section != query.section) continue;
        if (instance < INT64_MAX) instance++;
        if (query.instance != 0 && instance != query.instance) continue;
        found = true;
        if (query.column < fields.size()) {
            csv_field_value(fields[query.column], value);
            emit(context, value.c_str(), value.length);
        }
    }
    return found;
}

int parse_command(int count, char** vector) {
    const char* name = "parse";
    ParseQuery query{nullptr, 0, 0, 0};
    struct ParseOptions {
        const char* instance = nullptr;
        const char* section = nullptr;
    };
    static constexpr Option<ParseOptions> kRows[] = {
        value_option("i", &ParseOptions::instance, kOptionAnyCase),
        value_option("s", &ParseOptions::section, kOptionAnyCase)};
    ParseOptions o;
    const int first = parse_options(count, vector, kRows, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    if (count - first != 3) return report_usage(name);
    const char* const* positional = vector + first;
    int64_t n = 0;
    if (o.instance && (!read_text_number(o.instance, &n) || n <= 0)) return report_usage(name);
    if (o.instance) query.instance = n;
    if (o.section && (!read_text_number(o.section, &n) || n <= 0)) return report_usage(name);
    if (o.section) query.section = n;
    int64_t column = 0;
    if (!read_text_number(positional[2], &column) || column < 0) return report_usage(name);
    query.table = positional[1];
    query.column = static_cast<uint64_t>(column);

    Owned<char> path(resolve_file_argument(name, positional[0]));
    if (!path) return kExitFailure;
    char* text = nullptr;
    uint64_t length = 0;
    ShellError err = read_text(path.get(), &text, &length);
    if (err != kOk) return report_failure(name, path.get(), err);
    Owned<char> owned(text);
    bool found = parse_standard_format(text, length, query, emit_line, nullptr, poll_break);
    return found ? kExitSuccess : kExitNotFound;
}

void register_parse_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
