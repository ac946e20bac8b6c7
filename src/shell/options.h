// The option parser shared by the built-in commands.
//
// A command describes its options as a static table of rows; each row names an option
// (without its dash), says whether it takes a value and how it matches, and says which
// field of the command's own options struct receives it:
//
//     struct HeadOptions { const char* lines = nullptr; };
//     constexpr Option<HeadOptions> kHeadOptions[] = {
//         value_option("n", &HeadOptions::lines),
//     };
//     HeadOptions o;
//     int first = parse_options(count, vector, kHeadOptions, kOptionsLeading, &o);
//     if (first < 0) return kExitUsage;
//
// On success the operands are moved, in order, to the end of the vector (the options and
// their values stand before them) and the index of the first operand is returned (count
// when there are none). On a usage error the parser has printed the message and the
// command's usage line and returns -1; the command then returns 2 (kExitUsage).
#pragma once
#include "runtime/util.h"

namespace tarn {

// Row flags.
constexpr uint8_t kOptionValue = 1;             // the next argument is the option's value
constexpr uint8_t kOptionAnyCase = 2;           // the name matches without regard to ASCII case
constexpr uint8_t kOptionPositionalAtEnd = 4;   // as the last argument, the word is an operand
constexpr uint8_t kOptionAttachedValue = 8;     // in a cluster, the letters after it are its value

// Table flags.
constexpr uint32_t kOptionsClusters = 1;        // "-rf" is -r and -f (single-letter rows)
constexpr uint32_t kOptionsLeading = 2;         // the first operand ends the options
constexpr uint32_t kOptionsOthersPositional = 4;// a dash word the table lacks is an operand
constexpr uint32_t kOptionsNameWord = 8;        // an unknown option is named as the whole word
constexpr uint32_t kOptionsEndAtEquals = 16;    // a word starting with '=' ends the options
constexpr uint32_t kOptionsLongWordsPositional = 32;  // an unknown "-xyz" (not "-x") is an operand

// How the parser sees one row, whatever struct receives it.
struct OptionName {
    const char* text;
    uint64_t length;
    uint8_t flags;
};

// A table of rows as the parser walks it: `name_at` describes row i, `found` stores what
// row i received (value is null for a switch) into the command's result.
struct OptionRows {
    const void* rows;
    int count;
    uint32_t flags;
    OptionName (*name_at)(const void* rows, int index);
    void (*found)(const void* rows, int index, const char* value, void* result);
};

int parse_option_rows(int count, char** vector, const OptionRows& table, void* result);

// A row that sets a bool of T (on) or a value of T (value). A row with neither is
// accepted and ignored (a switch that means nothing to this command, such as -b).
template <class T> struct Option {
    const char* name;
    uint8_t flags;
    bool T::*on;
    const char* T::*value;
};

template <class T>
constexpr Option<T> switch_option(const char* name, bool T::*on, uint8_t flags = 0) {
    return Option<T>{name, flags, on, nullptr};
}

template <class T>
constexpr Option<T> value_option(const char* name, const char* T::*value, uint8_t flags = 0) {
    return Option<T>{name, static_cast<uint8_t>(flags | kOptionValue), nullptr, value};
}

template <class T> constexpr Option<T> ignored_option(const char* name, uint8_t flags = 0) {
    return Option<T>{name, flags, nullptr, nullptr};
}

namespace option_detail {
uint64_t name_length(const char* text);

template <class T> OptionName name_at(const void* rows, int index) {
    const Option<T>& row = static_cast<const Option<T>*>(rows)[index];
    return OptionName{row.name, name_length(row.name), row.flags};
}

template <class T> void found(const void* rows, int index, const char* value, void* result) {
    const Option<T>& row = static_cast<const Option<T>*>(rows)[index];
    T* out = static_cast<T*>(result);
    if (row.on) out->*row.on = true;
    if (row.value && value) out->*row.value = value;
}
}  // namespace option_detail

// Parses vector[1..count-1] by the rows into *out (fields not named stay as they were).
template <class T, size_t N>
int parse_options(int count, char** vector, const Option<T> (&rows)[N], uint32_t flags, T* out) {
    const OptionRows table{rows, static_cast<int>(N), flags, &option_detail::name_at<T>,
                           &option_detail::found<T>};
    return parse_option_rows(count, vector, table, out);
}

// The simple form: every character of letters is a switch, clustered as "-rf"; flags holds
// one byte per letter, cleared first and set to 1 for each letter given. An unknown letter
// prints "NAME: unknown option -X" and the usage line.
int parse_options(int count, char** vector, const char* letters, uint8_t* flags);

}  // namespace tarn
