#include "shell/command_line.h"

#include "runtime/memory.h"
#include "runtime/string_buffer.h"

namespace tarn {
namespace {

constexpr const char* kUnterminatedQuote = "unterminated quote";
constexpr const char* kMissingFileName = "missing file name after >";
constexpr const char* kTooManyWords = "too many words";

// The largest vector we build; far above any line a person or script types, and keeps
// counts inside an int.
constexpr uint64_t kMaxWords = 0x10000000;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The words split so far; they are freed unless handed over.
struct WordVector {
    Vector<char*> words;

    ~WordVector() {
        for (char* word : words) release(word);
    }
    bool push(char* word) {
        if (words.size() + 1 >= kMaxWords) return false;
        words.push(word);
        return true;
    }
    uint64_t count() const { return words.size(); }
    // The words with a closing null entry, handed over.
    char** take() {
        words.push(nullptr);
        return words.take();
    }
};

// Collects one word starting at line[*pos] (not a blank); stops at an unquoted blank, an
// unquoted '>' when stop_at_redirect, or the end. Returns false for an unterminated quote.
bool collect_word(const char* line, uint64_t* pos, StringBuffer& word, bool stop_at_redirect,
                  bool raw) {
    uint64_t i = *pos;
    bool quoted = false;
    while (line[i]) {
        char c = line[i];
        if (quoted) {
            if (c == '"') {
                if (!raw && line[i + 1] == '"') {
                    append_char(word, '"');
                    i += 2;
                    continue;
                }
                quoted = false;
                if (raw) append_char(word, '"');
                i++;
                continue;
            }
            append_char(word, c);
            i++;
            continue;
        }
        if (is_blank(c) || (c == '>' && stop_at_redirect)) break;
        if (c == '"') {
            quoted = true;
            if (raw) append_char(word, '"');
            i++;
            continue;
        }
        append_char(word, c);
        i++;
    }
    *pos = i;
    return !quoted;
}

// The file name after > or >>: up to the next unquoted blank; quotes toggle and are
// dropped; an unclosed quote runs to the end of the line.
void collect_file_name(const char* line, uint64_t* pos, StringBuffer& name) {
    uint64_t i = *pos;
    bool quoted = false;
    while (line[i]) {
        char c = line[i];
        if (c == '"') {
            quoted = !quoted;
            i++;
            continue;
        }
        if (!quoted && is_blank(c)) break;
        append_char(name, c);
        i++;
    }
    *pos = i;
}

char** split(const char* line, int* count, const char** error, char** redirect_target,
             bool* append, bool raw) {
    *count = 0;
    *error = nullptr;
    const bool redirect_allowed = redirect_target != nullptr;
    if (redirect_allowed) {
        *redirect_target = nullptr;
        if (append) *append = false;
    }
    if (!line) line = "";

    WordVector vector;
    Owned<char> target;
    bool target_append = false;
    uint64_t i = 0;
    for (;;) {
        while (is_blank(line[i])) i++;
        if (!line[i]) break;
        if (line[i] == '>' && redirect_allowed) {
            bool appending = false;
            i++;
            if (line[i] == '>') {
                appending = true;
                i++;
            }
            while (is_blank(line[i])) i++;
            StringBuffer name;
            collect_file_name(line, &i, name);
            if (name.length == 0) {
                *error = kMissingFileName;
                return nullptr;
            }
            target.reset(take(name));
            target_append = appending;
            continue;
        }
        StringBuffer word;
        init(word);  // an empty word ("") is kept as an empty string
        if (!collect_word(line, &i, word, redirect_allowed, raw)) {
            *error = kUnterminatedQuote;
            return nullptr;
        }
        char* text = take(word);
        if (!vector.push(text)) {
            release(text);
            *error = kTooManyWords;
            return nullptr;
        }
    }
    if (redirect_allowed) {
        *redirect_target = target.take();
        if (append) *append = target_append;
    }
    *count = static_cast<int>(vector.count());
    return vector.take();
}

}  // namespace

char** split_command_line(const char* line, int* count, const char** error,
                          char** redirect_target, bool* append, bool raw) {
    return split(line, count, error, redirect_target, append, raw);
}

char** split_words(const char* line, int* count, const char** error) {
    return split(line, count, error, nullptr, nullptr, false);
}

void free_words(char** vector) {
    if (!vector) return;
    for (char** p = vector; *p; p++) release(*p);
    release(vector);
}

}  // namespace tarn
