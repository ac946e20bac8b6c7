#include "shell/options.h"

#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {

namespace option_detail {
uint64_t name_length(const char* text) { return text ? strlen(text) : 0; }
}  // namespace option_detail

namespace {

bool name_matches(const OptionName& row, const char* text, uint64_t length) {
    if (row.length != length) return false;
    for (uint64_t i = 0; i < length; i++) {
        const unsigned char a = static_cast<unsigned char>(row.text[i]);
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (row.flags & kOptionAnyCase ? to_lower(a) != to_lower(b) : a != b) return false;
    }
    return true;
}

// The row whose name is text[0..length), or -1.
int find_row(const OptionRows& table, const char* text, uint64_t length) {
    for (int i = 0; i < table.count; i++)
        if (name_matches(table.name_at(table.rows, i), text, length)) return i;
    return -1;
}

void report_unknown(const char* command, const char* word, char letter) {
    if (letter) print_error("%s: unknown option -%c\n", command, letter);
    else print_error("%s: unknown option %s\n", command, word);
    if (const char* usage = usage_of(command)) print_error("usage: %s\n", usage);
}

// Collects the words of the vector into options (with their values) and operands, then
// writes them back options first.
struct Sorter {
    Owned<char*> options;
    Owned<char*> operands;
    int option_count = 0;
    int operand_count = 0;
};

enum class Outcome : uint8_t { kOption, kOperand, kError };

// A cluster such as "-rf" or "-ahs": every letter must be a row of its own (a row with an
// attached value takes the rest of the word). Checked whole before anything is stored.
Outcome read_cluster(const OptionRows& table, const char* command, char** vector, int count,
                     int* index, Sorter& sorter, void* result) {
    const char* word = vector[*index];
    const char* letters = word + 1;
    for (const char* p = letters; *p; p++) {
        const int row = find_row(table, p, 1);
        if (row < 0) {
            if (table.flags & kOptionsOthersPositional) return Outcome::kOperand;
            report_unknown(command, word, (table.flags & kOptionsNameWord) ? 0 : *p);
            return Outcome::kError;
        }
        const uint8_t flags = table.name_at(table.rows, row).flags;
        if (flags & (kOptionAttachedValue | kOptionValue)) break;
    }
    sorter.options[sorter.option_count++] = vector[*index];
    for (const char* p = letters; *p; p++) {
        const int row = find_row(table, p, 1);
        const uint8_t flags = table.name_at(table.rows, row).flags;
        if (flags & kOptionAttachedValue) {
            table.found(table.rows, row, p + 1, result);
            break;
        }
        if (flags & kOptionValue) {
            if (p[1]) {
                table.found(table.rows, row, p + 1, result);
            } else if (*index + 1 < count) {
                table.found(table.rows, row, vector[*index + 1], result);
                sorter.options[sorter.option_count++] = vector[++*index];
            } else {
                report_usage(command);
                return Outcome::kError;
            }
            break;
        }
        table.found(table.rows, row, nullptr, result);
    }
    return Outcome::kOption;
}

Outcome read_word(const OptionRows& table, const char* command, char** vector, int count,
                  int* index, Sorter& sorter, void* result) {
    const char* word = vector[*index];
    const int row = find_row(table, word + 1, strlen(word + 1));
    if (row < 0) {
        if ((table.flags & kOptionsLongWordsPositional) && word[2] != '\0') return Outcome::kOperand;
        if (table.flags & kOptionsClusters)
            return read_cluster(table, command, vector, count, index, sorter, result);
        if (table.flags & kOptionsOthersPositional) return Outcome::kOperand;
        report_unknown(command, word, 0);
        return Outcome::kError;
    }
    const uint8_t flags = table.name_at(table.rows, row).flags;
    if (!(flags & (kOptionValue | kOptionAttachedValue))) {  // a switch
        table.found(table.rows, row, nullptr, result);
        sorter.options[sorter.option_count++] = vector[*index];
        return Outcome::kOption;
    }
    if (flags & kOptionAttachedValue) {
        table.found(table.rows, row, "", result);
        sorter.options[sorter.option_count++] = vector[*index];
        return Outcome::kOption;
    }
    if (*index + 1 >= count) {
        if (flags & kOptionPositionalAtEnd) return Outcome::kOperand;
        report_usage(command);
        return Outcome::kError;
    }
    table.found(table.rows, row, vector[*index + 1], result);
    sorter.options[sorter.option_count++] = vector[*index];
    sorter.options[sorter.option_count++] = vector[++*index];
    return Outcome::kOption;
}

}  // namespace

int parse_option_rows(int count, char** vector, const OptionRows& table, void* result) {
    if (count <= 1 || !vector) return count < 1 ? 0 : count;
    const char* command = vector[0] ? vector[0] : "";
    Sorter sorter;
    sorter.options.reset(xallocate_array<char*>(static_cast<uint64_t>(count)));
    sorter.operands.reset(xallocate_array<char*>(static_cast<uint64_t>(count)));
    bool ended = false;
    int i = 1;
    for (; i < count && vector[i]; i++) {
        char* arg = vector[i];
        if (!ended && arg[0] == '-' && arg[1] == '-' && arg[2] == '\0') {
            ended = true;
            sorter.options[sorter.option_count++] = arg;
            continue;
        }
        if (!ended && (table.flags & kOptionsEndAtEquals) && arg[0] == '=') ended = true;
        Outcome outcome = Outcome::kOperand;
        if (!ended && arg[0] == '-' && arg[1] != '\0' && !is_digit(static_cast<unsigned char>(arg[1])))
            outcome = read_word(table, command, vector, count, &i, sorter, result);
        if (outcome == Outcome::kError) return -1;
        if (outcome == Outcome::kOperand) {
            sorter.operands[sorter.operand_count++] = arg;
            if (table.flags & kOptionsLeading) ended = true;
        }
    }
    int k = 1;
    for (int j = 0; j < sorter.option_count; j++) vector[k++] = sorter.options[j];
    const int first_operand = k;
    for (int j = 0; j < sorter.operand_count; j++) vector[k++] = sorter.operands[j];
    return first_operand;
}

namespace {

struct LetterFlags {
    uint8_t* flags;
};

OptionName letter_at(const void* rows, int index) {
    return OptionName{static_cast<const char*>(rows) + index, 1, 0};
}

void letter_found(const void*, int index, const char*, void* result) {
    static_cast<LetterFlags*>(result)->flags[index] = 1;
}

}  // namespace

int parse_options(int count, char** vector, const char* letters, uint8_t* flags) {
    const int letter_count = letters ? static_cast<int>(strlen(letters)) : 0;
    for (int i = 0; i < letter_count; i++) flags[i] = 0;
    LetterFlags result{flags};
    const OptionRows table{letters, letter_count, kOptionsClusters, &letter_at, &letter_found};
    return parse_option_rows(count, vector, table, &result);
}

}  // namespace tarn
