// TARN BASIC tokens and the lexer that produces them, one token per request.
#pragma once
#include "runtime/util.h"

namespace tarn {

enum TokenKind : int32_t {
    kTokEnd = 0,
    kTokEol = 1,
    kTokNumber = 2,
    kTokString = 3,
    kTokIdent = 4,
    kTokError = 5,
    kTokPlus = 6,
    kTokMinus = 7,
    kTokStar = 8,
    kTokSlash = 9,
    kTokBackslash = 10,
    kTokCaret = 11,
    kTokEq = 12,
    kTokNe = 13,
    kTokLt = 14,
    kTokGt = 15,
    kTokLe = 16,
    kTokGe = 17,
    kTokLParen = 18,
    kTokRParen = 19,
    kTokComma = 20,
    kTokSemicolon = 21,
    kTokColon = 22,
    // keywords, in the order of the keyword table
    kTokAnd = 23,
    kTokOr = 24,
    kTokXor = 25,
    kTokNot = 26,
    kTokMod = 27,
    kTokShl = 28,
    kTokShr = 29,
    kTokIf = 30,
    kTokThen = 31,
    kTokElse = 32,
    kTokElseif = 33,
    kTokEndKw = 34,
    kTokFor = 35,
    kTokTo = 36,
    kTokStep = 37,
    kTokNext = 38,
    kTokWhile = 39,
    kTokWend = 40,
    kTokDo = 41,
    kTokLoop = 42,
    kTokUntil = 43,
    kTokSelect = 44,
    kTokCase = 45,
    kTokIs = 46,
    kTokExit = 47,
    kTokContinue = 48,
    kTokGoto = 49,
    kTokSub = 50,
    kTokFunction = 51,
    kTokCall = 52,
    kTokReturn = 53,
    kTokLocal = 54,
    kTokDim = 55,
    kTokRedim = 56,
    kTokPrint = 57,
    kTokInput = 58,
    kTokLet = 59,
    kTokRun = 60,
    kTokAppend = 61,
    kTokCls = 62,
    kTokColor = 63,
    kTokLocate = 64,
    kTokPause = 65,
    kTokSleep = 66,
};

constexpr int32_t kFirstKeyword = kTokAnd;
constexpr int32_t kLastKeyword = kTokSleep;
constexpr uint64_t kLexMessageSize = 160;

struct Token {
    TokenKind kind;
    int32_t line;
    uint64_t number;   // value of a number token (read as signed)
    char* text;        // owned copy: identifier as spelled, or string contents
    uint64_t text_length;
};

struct Lexer {
    const char* source;
    uint64_t length;
    uint64_t position;
    int32_t line;
    Token token;
    char message[kLexMessageSize];
};

// Clears the lexer, skips a byte order mark and a "#!" first line, and reads the first token.
void lexer_init(Lexer* lexer, const char* text, uint64_t length);
// Reads the next token into lexer->token (after an error, the error repeats).
void lexer_next(Lexer* lexer);
// Frees the current token's text.
void lexer_free(Lexer* lexer);

const char* token_display_name(int32_t kind);
bool is_keyword(const char* word);
bool is_statement_keyword(int32_t kind);
const char* block_end_name(int32_t code);

// The keyword kind of a word of n bytes (any case), or -1.
int32_t keyword_kind(const char* word, uint64_t n);

}  // namespace tarn
