// The TARN BASIC lexer: bytes in, one token per request out.
#include "basic/lexer.h"

#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

// Spellings of kinds 23 to 66, in table order.
constexpr const char* kKeywords[] = {
    "and",    "or",     "xor",    "not",    "mod",      "shl",   "shr",      "if",     "then",
    "else",   "elseif", "end",    "for",    "to",       "step",  "next",     "while",  "wend",
    "do",     "loop",   "until",  "select", "case",     "is",    "exit",     "continue",
    "goto",   "sub",    "function", "call", "return",   "local", "dim",      "redim",  "print",
    "input",  "let",    "run",    "append", "cls",      "color", "locate",   "pause",  "sleep",
};
static_assert(array_size(kKeywords) == 44, "keyword table");

constexpr const char* kDisplayNames[] = {
    "end of input", "end of line", "number", "string", "identifier", "invalid character",
    "'+'", "'-'", "'*'", "'/'", "'\\'", "'^'", "'='", "'<>'", "'<'", "'>'", "'<='", "'>='",
    "'('", "')'", "','", "';'", "':'",
};
static_assert(array_size(kDisplayNames) == 23, "display names");

constexpr const char* kBlockEndNames[] = {
    "end of input", "NEXT", "WEND", "LOOP", "ELSE", "ELSEIF", "CASE",
    "END IF", "END SUB", "END FUNCTION", "END SELECT", "END WHILE",
};

bool is_word_byte(int c) { return is_alnum(c) || c == '_'; }

void set_error(Lexer* lx, int32_t line, const char* text) {
    lx->token.kind = kTokError;
    lx->token.line = line;
    format_into(lx->message, sizeof lx->message, "%s", text);
}

void set_token_text(Lexer* lx, const char* bytes, uint64_t n) {
    lx->token.text = xstrndup(bytes, n);
    lx->token.text_length = n;
}

void skip_to_line_end(Lexer* lx) {
    while (lx->position < lx->length && lx->source[lx->position] != '\n') lx->position++;
}

int digit_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

// Reads digits of `base` from the current position; the prefix is already consumed.
void read_number(Lexer* lx, int32_t line, unsigned base) {
    const char* s = lx->source;
    uint64_t value = 0;
    bool any = false;
    bool overflow = false;
    while (lx->position < lx->length) {
        int c = static_cast<unsigned char>(s[lx->position]);
        if (c == '_' && any) {
            lx->position++;
            continue;
        }
        int d = digit_value(c);
        bool is_digit_of_base = (base == 16) ? is_xdigit(c) : (is_digit(c) && d < static_cast<int>(base));
        if (!is_digit_of_base) break;
        any = true;
        if (base == 10) {
            if (__builtin_mul_overflow(value, 10u, &value) ||
                __builtin_add_overflow(value, static_cast<uint64_t>(d), &value))
                overflow = true;
        } else {
            value = value * base + static_cast<uint64_t>(d);
        }
        lx->position++;
    }
    if (lx->position < lx->length) {
        int c = static_cast<unsigned char>(s[lx->position]);
        if (is_alpha(c) || is_digit(c)) any = false;  // a letter or a digit invalid for the base
    }
    if (!any) {
        set_error(lx, line, "malformed number");
        return;
    }
    if (base == 10 && (overflow || value > (1ull << 63))) {
        set_error(lx, line, "number too large");
        return;
    }
    lx->token.kind = kTokNumber;
    lx->token.line = line;
    lx->token.number = value;
}

void read_string(Lexer* lx, int32_t line) {
    const char* s = lx->source;
    lx->position++;  // opening quote
    // First pass: find the end and the length of the contents.
    uint64_t n = 0;
    uint64_t p = lx->position;
    for (;;) {
        if (p >= lx->length || s[p] == '\n') {
            lx->position = p;
            set_error(lx, line, "unterminated string");
            return;
        }
        if (s[p] == '"') {
            if (p + 1 < lx->length && s[p + 1] == '"') {
                n++;
                p += 2;
                continue;
            }
            break;
        }
        n++;
        p++;
    }
    char* text = static_cast<char*>(xallocate(n + 1));
    uint64_t k = 0;
    p = lx->position;
    for (;;) {
        if (s[p] == '"') {
            if (p + 1 < lx->length && s[p + 1] == '"') {
                text[k++] = '"';
                p += 2;
                continue;
            }
            break;
        }
        text[k++] = s[p++];
    }
    text[k] = 0;
    lx->position = p + 1;
    lx->token.kind = kTokString;
    lx->token.line = line;
    lx->token.text = text;
    lx->token.text_length = n;
}

// '_' preceded by whitespace and followed only by blanks up to a line feed.
bool is_continuation(const Lexer* lx) {
    uint64_t p = lx->position;
    if (p == 0 || !is_space(static_cast<unsigned char>(lx->source[p - 1]))) return false;
    for (p++; p < lx->length; p++) {
        char c = lx->source[p];
        if (c == '\n') return true;
        if (c != ' ' && c != '\t' && c != '\r') return false;
    }
    return false;
}

}  // namespace

int32_t keyword_kind(const char* word, uint64_t n) {
    if (n < 2 || n > 8) return -1;
    for (uint64_t i = 0; i < array_size(kKeywords); i++) {
        const char* k = kKeywords[i];
        uint64_t j = 0;
        while (j < n && k[j] && to_lower(static_cast<unsigned char>(word[j])) == k[j]) j++;
        if (j == n && k[j] == 0) return kFirstKeyword + static_cast<int32_t>(i);
    }
    return -1;
}

void lexer_free(Lexer* lx) {
    release(lx->token.text);
    lx->token.text = nullptr;
    lx->token.text_length = 0;
}

void lexer_init(Lexer* lx, const char* text, uint64_t length) {
    memset(lx, 0, sizeof *lx);
    lx->source = text;
    lx->length = text ? length : 0;
    lx->line = 1;
    if (lx->length >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
        lx->position = 3;
    if (lx->length - lx->position >= 2 && text[lx->position] == '#' && text[lx->position + 1] == '!')
        skip_to_line_end(lx);
    lexer_next(lx);
}

void lexer_next(Lexer* lx) {
    if (lx->token.kind == kTokError && lx->message[0]) return;
    lexer_free(lx);
    lx->token.number = 0;
    const char* s = lx->source;
    for (;;) {
        int32_t line = lx->line;
        if (lx->position >= lx->length) {
            lx->token.kind = kTokEnd;
            lx->token.line = line;
            return;
        }
        int c = static_cast<unsigned char>(s[lx->position]);
        if (c == ' ' || c == '\t' || c == '\r') {
            lx->position++;
            continue;
        }
        if (c == '\n') {
            lx->position++;
            lx->token.kind = kTokEol;
            lx->token.line = line;
            lx->line++;
            return;
        }
        if (c == '\'') {
            skip_to_line_end(lx);
            continue;
        }
        if (c == '_' && is_continuation(lx)) {
            skip_to_line_end(lx);
            lx->position++;
            lx->line++;
            continue;
        }
        if (is_digit(c)) {
            uint64_t p = lx->position;
            char n1 = p + 1 < lx->length ? s[p + 1] : 0;
            char n2 = p + 2 < lx->length ? s[p + 2] : 0;
            if (c == '0' && (n1 == 'x' || n1 == 'X')) {
                lx->position += 2;
                read_number(lx, line, 16);
            } else if (c == '0' && (n1 == 'b' || n1 == 'B') && (n2 == '0' || n2 == '1')) {
                lx->position += 2;
                read_number(lx, line, 2);
            } else {
                read_number(lx, line, 10);
            }
            return;
        }
        if (c == '&') {
            char n1 = lx->position + 1 < lx->length ? static_cast<char>(to_lower(s[lx->position + 1])) : 0;
            unsigned base = n1 == 'h' ? 16 : n1 == 'o' ? 8 : n1 == 'b' ? 2 : 0;
            if (!base) {
                set_error(lx, line, "unexpected '&' (use + to join strings)");
                return;
            }
            lx->position += 2;
            read_number(lx, line, base);
            return;
        }
        if (c == '"') {
            read_string(lx, line);
            return;
        }
        if (is_alpha(c) || c == '_') {
            uint64_t start = lx->position;
            while (lx->position < lx->length && is_word_byte(static_cast<unsigned char>(s[lx->position])))
                lx->position++;
            bool dollar = lx->position < lx->length && s[lx->position] == '$';
            if (dollar) lx->position++;
            uint64_t n = lx->position - start;
            if (!dollar) {
                if (n == 3 && to_lower(s[start]) == 'r' && to_lower(s[start + 1]) == 'e' &&
                    to_lower(s[start + 2]) == 'm' &&
                    (lx->position >= lx->length || is_space(static_cast<unsigned char>(s[lx->position])))) {
                    skip_to_line_end(lx);
                    continue;
                }
                int32_t kw = keyword_kind(s + start, n);
                if (kw >= 0) {
                    lx->token.kind = static_cast<TokenKind>(kw);
                    lx->token.line = line;
                    return;
                }
            }
            lx->token.kind = kTokIdent;
            lx->token.line = line;
            set_token_text(lx, s + start, n);
            return;
        }
        TokenKind kind;
        uint64_t width = 1;
        char next = lx->position + 1 < lx->length ? s[lx->position + 1] : 0;
        switch (c) {
            case '(': kind = kTokLParen; break;
            case ')': kind = kTokRParen; break;
            case '*': kind = kTokStar; break;
            case '+': kind = kTokPlus; break;
            case ',': kind = kTokComma; break;
            case '-': kind = kTokMinus; break;
            case '/': kind = kTokSlash; break;
            case ':': kind = kTokColon; break;
            case ';': kind = kTokSemicolon; break;
            case '=': kind = kTokEq; break;
            case '\\': kind = kTokBackslash; break;
            case '^': kind = kTokCaret; break;
            case '<':
                kind = next == '>' ? kTokNe : next == '=' ? kTokLe : kTokLt;
                if (kind != kTokLt) width = 2;
                break;
            case '>':
                kind = next == '=' ? kTokGe : kTokGt;
                if (kind != kTokGt) width = 2;
                break;
            default: {
                char text[32];
                format_into(text, sizeof text, "unexpected character '%c'",
                            (c >= 32 && c <= 126) ? c : '?');
                set_error(lx, line, text);
                return;
            }
        }
        lx->position += width;
        lx->token.kind = kind;
        lx->token.line = line;
        return;
    }
}

const char* token_display_name(int32_t kind) {
    if (kind >= 0 && kind < static_cast<int32_t>(array_size(kDisplayNames))) return kDisplayNames[kind];
    if (kind >= kFirstKeyword && kind <= kLastKeyword) return kKeywords[kind - kFirstKeyword];
    return "?";
}

bool is_keyword(const char* word) {
    if (!word) return false;
    return keyword_kind(word, strlen(word)) >= 0;
}

bool is_statement_keyword(int32_t kind) {
    if (kind < kTokIf || kind > kTokSleep) return false;
    switch (kind) {
        case kTokThen:
        case kTokTo:
        case kTokStep:
        case kTokUntil:
        case kTokIs:
        case kTokAppend:
            return false;
        default:
            return true;
    }
}

const char* block_end_name(int32_t code) {
    if (code >= 0 && code < static_cast<int32_t>(array_size(kBlockEndNames))) return kBlockEndNames[code];
    return "end of input";
}

}  // namespace tarn
