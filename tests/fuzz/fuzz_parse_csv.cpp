// The standard-format reader of `parse` on untrusted text: fields stay inside their line,
// and the columns printed and the found result agree with a plain reference reader.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands/files/text_commands.h"
#include "fuzz_pool.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

// What standard-format lines are made of, so that token inputs reach every path.
const char* const kTokens[] = {"\"", "\"", "\"\"", ",", ",", " ", "  ", "\n", "\n", "T", "t",
                               "ShellCommand", "shellcommand", "x", "yz", "\t", "\r", "1",
                               "\xc3\xa9", "\n\n"};
constexpr size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];

std::vector<std::string> reference_split(const std::string& line) {
    std::vector<std::string> fields;
    size_t i = 0;
    const size_t n = line.size();
    for (;;) {
        while (i < n && line[i] == ' ') i++;
        std::string field;
        if (i < n && line[i] == '"') {
            i++;
            bool closed = false;
            while (i < n && !closed) {
                if (line[i] != '"') {
                    field += line[i++];
                } else if (i + 1 < n && line[i + 1] == '"') {
                    field += '"';
                    i += 2;
                } else {
                    closed = true;
                    i++;
                }
            }
            while (i < n && line[i] != ',') i++;
        } else {
            size_t comma = line.find(',', i);
            if (comma == std::string::npos) comma = n;
            field = line.substr(i, comma - i);
            while (!field.empty() && field.back() == ' ') field.pop_back();
            i = comma;
        }
        fields.push_back(field);
        if (i >= n) break;
        i++;
    }
    return fields;
}

bool same_nocase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (tarn::to_lower(static_cast<unsigned char>(a[i])) != tarn::to_lower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool reference_parse(const std::string& text, const std::string& table, uint64_t column,
                     int64_t instance, int64_t section, std::vector<std::string>& out) {
    int64_t sections = 0, instances = 0;
    bool found = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        if (lf == std::string::npos) lf = text.size();
        std::vector<std::string> fields = reference_split(text.substr(pos, lf - pos));
        pos = lf + 1;
        if (same_nocase(fields[0], "ShellCommand")) sections++;
        if (!same_nocase(fields[0], table)) continue;
        if (section && sections != section) continue;
        instances++;
        if (instance && instances != instance) continue;
        found = true;
        if (column < fields.size()) out.push_back(fields[column]);
    }
    return found;
}

void collect(void* context, const char* value, uint64_t length) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(value, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        fuzz::install_pool();
        ready = true;
    }
    if (size < 3) return 0;
    const long before = fuzz::outstanding();

    // Byte 0: the query; byte 1: raw bytes or tokens; the rest: the text.
    const uint8_t q = data[0];
    const bool raw = data[1] & 1;
    std::string text;
    for (size_t i = 2; i < size; i++) {
        if (raw) text.push_back(static_cast<char>(data[i]));
        else text += kTokens[data[i] % kTokenCount];
    }
    static const char* const kTables[] = {"T", "t", "ShellCommand", "", "x", "T,"};
    tarn::ParseQuery query{kTables[(q >> 5) % 6], static_cast<uint64_t>(q & 3),
                           static_cast<int64_t>((q >> 2) & 1 ? 2 : 0),
                           static_cast<int64_t>((q >> 3) & 1 ? 1 : 0)};

    // Every field lies inside its line; unquoted ones hold no comma and no outer blank.
    {
        tarn::Vector<tarn::CsvField> fields;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t lf = text.find('\n', pos);
            if (lf == std::string::npos) lf = text.size();
            const char* line = text.data() + pos;
            tarn::split_csv_line(line, lf - pos, fields);
            check(fields.size() >= 1);
            for (const tarn::CsvField& f : fields) {
                check(f.start >= line && f.start + f.length <= line + (lf - pos));
                if (!f.quoted) {
                    check(memchr(f.start, ',', f.length) == nullptr);
                    check(f.length == 0 || (f.start[0] != ' ' && f.start[f.length - 1] != ' '));
                }
            }
            pos = lf + 1;
        }
    }

    std::vector<std::string> got, expected;
    bool found = tarn::parse_standard_format(text.data(), text.size(), query, collect, &got);
    bool reference = reference_parse(text, query.table, query.column, query.instance,
                                     query.section, expected);
    check(found == reference);
    check(got == expected);
    check(fuzz::outstanding() == before);
    return 0;
}
