// The BASIC lexer: tokens, literals, comments, continuations and lexical errors.
#include "test_basic_support.h"

using namespace basic_test;

namespace {

struct Tok {
    int kind;
    int line;
    int64_t number;
    std::string text;
};

std::vector<Tok> lex(const std::string& text, std::string* message = nullptr) {
    Lexer lx;
    lexer_init(&lx, text.data(), text.size());
    std::vector<Tok> out;
    for (int guard = 0; guard < 1000; guard++) {
        Tok t{lx.token.kind, lx.token.line, static_cast<int64_t>(lx.token.number),
              lx.token.text ? std::string(lx.token.text, lx.token.text_length) : std::string()};
        out.push_back(t);
        if (t.kind == kTokEnd || t.kind == kTokError) break;
        lexer_next(&lx);
    }
    if (message) *message = lx.message;
    lexer_free(&lx);
    return out;
}

std::vector<int> kinds(const std::string& text) {
    std::vector<int> k;
    for (auto& t : lex(text)) k.push_back(t.kind);
    return k;
}

std::string lex_error(const std::string& text) {
    std::string message;
    auto toks = lex(text, &message);
    return toks.back().kind == kTokError ? message : "<no error>";
}

int64_t number_of(const std::string& text) {
    auto toks = lex(text);
    EXPECT_EQ(toks[0].kind, kTokNumber) << text;
    return toks[0].number;
}

class BasicLexer : public BasicTest {};

}  // namespace

TEST_F(BasicLexer, OperatorsAndPairs) {
    EXPECT_EQ(kinds("+-*/\\^=<><<=>>=(),;:"),
              (std::vector<int>{kTokPlus, kTokMinus, kTokStar, kTokSlash, kTokBackslash, kTokCaret, kTokEq, kTokNe,
                                kTokLt, kTokLe, kTokGt, kTokGe, kTokLParen, kTokRParen, kTokComma, kTokSemicolon,
                                kTokColon, kTokEnd}));
    // "=<" is not a pair.
    EXPECT_EQ(kinds("=<"), (std::vector<int>{kTokEq, kTokLt, kTokEnd}));
}

TEST_F(BasicLexer, KeywordsIdentifiersAndCase) {
    EXPECT_EQ(kinds("PRINT print Print"), (std::vector<int>{kTokPrint, kTokPrint, kTokPrint, kTokEnd}));
    auto toks = lex("print$ Foo_1 x_");
    EXPECT_EQ(toks[0].kind, kTokIdent);
    EXPECT_EQ(toks[0].text, "print$");
    EXPECT_EQ(toks[1].text, "Foo_1");  // spelled as written; the parser folds case
    EXPECT_EQ(toks[2].text, "x_");
    // '$' ends a word: a second one is not part of it.
    EXPECT_EQ(lex_error("a$$"), "unexpected character '$'");
    EXPECT_TRUE(is_keyword("ElseIf"));
    EXPECT_TRUE(is_keyword("sleep"));
    EXPECT_FALSE(is_keyword("rem"));
    EXPECT_FALSE(is_keyword("prin"));
    EXPECT_FALSE(is_keyword("printx"));
}

TEST_F(BasicLexer, DisplayNamesAndStatementSet) {
    EXPECT_STREQ(token_display_name(kTokEnd), "end of input");
    EXPECT_STREQ(token_display_name(kTokBackslash), "'\\'");
    EXPECT_STREQ(token_display_name(kTokNe), "'<>'");
    EXPECT_STREQ(token_display_name(kTokElseif), "elseif");
    EXPECT_STREQ(token_display_name(kTokSleep), "sleep");
    EXPECT_STREQ(token_display_name(67), "?");
    EXPECT_STREQ(token_display_name(-1), "?");
    int statements = 0;
    for (int k = 0; k < 80; k++) statements += is_statement_keyword(k) ? 1 : 0;
    EXPECT_EQ(statements, 31);
    EXPECT_FALSE(is_statement_keyword(kTokThen));
    EXPECT_FALSE(is_statement_keyword(kTokAppend));
    EXPECT_FALSE(is_statement_keyword(kTokIs));
    EXPECT_TRUE(is_statement_keyword(kTokExit));
    EXPECT_FALSE(is_statement_keyword(kTokAnd));
    EXPECT_STREQ(block_end_name(7), "END IF");
    EXPECT_STREQ(block_end_name(11), "END WHILE");
    EXPECT_STREQ(block_end_name(0), "end of input");
    EXPECT_STREQ(block_end_name(12), "end of input");
}

TEST_F(BasicLexer, StringLiterals) {
    auto toks = lex("PRINT \"say \"\"hi\"\"\"");
    EXPECT_EQ(toks[1].kind, kTokString);
    EXPECT_EQ(toks[1].text, "say \"hi\"");
    EXPECT_EQ(lex("\"\"")[0].text, "");
    EXPECT_EQ(lex("\"h\xc3\xa9\x01\"")[0].text, "h\xc3\xa9\x01");  // bytes kept as they are
    EXPECT_EQ(lex_error("x = \"abc"), "unterminated string");
    EXPECT_EQ(lex_error("x = \"abc\ny\""), "unterminated string");
    EXPECT_EQ(lex_error("\"abc\"\""), "unterminated string");
}

TEST_F(BasicLexer, NumberBases) {
    EXPECT_EQ(number_of("&hff"), 255);
    EXPECT_EQ(number_of("0X10"), 16);
    EXPECT_EQ(number_of("&B101"), 5);
    EXPECT_EQ(number_of("0b11"), 3);
    EXPECT_EQ(number_of("&o17"), 15);
    EXPECT_EQ(number_of("0b1"), 1);
    EXPECT_EQ(number_of("1_000"), 1000);
    EXPECT_EQ(number_of("1_000_000"), 1000000);
    EXPECT_EQ(number_of("&HFFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(number_of("&H10000000000000000"), 0);
    EXPECT_EQ(number_of("&HdeadBEEF"), 0xdeadbeef);
    EXPECT_EQ(number_of("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(number_of("9223372036854775808"), INT64_MIN);
}

TEST_F(BasicLexer, MalformedNumbers) {
    EXPECT_EQ(lex_error("0b "), "malformed number");
    EXPECT_EQ(lex_error("0b2"), "malformed number");
    EXPECT_EQ(lex_error("&H"), "malformed number");
    EXPECT_EQ(lex_error("&HFG"), "malformed number");
    EXPECT_EQ(lex_error("12abc"), "malformed number");
    EXPECT_EQ(lex_error("&B102"), "malformed number");
    EXPECT_EQ(lex_error("&O8"), "malformed number");
    EXPECT_EQ(lex_error("0x"), "malformed number");
    EXPECT_EQ(lex_error("&h_1"), "malformed number");  // '_' before the first digit
    EXPECT_EQ(lex_error("9223372036854775809"), "number too large");
    EXPECT_EQ(lex_error("99999999999999999999"), "number too large");
    EXPECT_EQ(lex_error("a & b"), "unexpected '&' (use + to join strings)");
    EXPECT_EQ(lex_error("a &"), "unexpected '&' (use + to join strings)");
}

TEST_F(BasicLexer, DecimalPointIsNotPartOfANumber) {
    auto toks = lex("1.5");
    ASSERT_EQ(toks.size(), 2u);
    EXPECT_EQ(toks[0].kind, kTokNumber);
    EXPECT_EQ(toks[0].number, 1);
    EXPECT_EQ(lex_error("1.5"), "unexpected character '.'");
}

TEST_F(BasicLexer, CommentsAndRem) {
    EXPECT_EQ(kinds("x ' comment\ny"), (std::vector<int>{kTokIdent, kTokEol, kTokIdent, kTokEnd}));
    EXPECT_EQ(kinds("REM\nx"), (std::vector<int>{kTokEol, kTokIdent, kTokEnd}));
    EXPECT_EQ(kinds("rem anything & \"\nx"), (std::vector<int>{kTokEol, kTokIdent, kTokEnd}));
    EXPECT_EQ(kinds("x REM"), (std::vector<int>{kTokIdent, kTokEnd}));
    auto toks = lex("REMARK rem$ REM:");
    EXPECT_EQ(toks[0].kind, kTokIdent);
    EXPECT_EQ(toks[0].text, "REMARK");
    EXPECT_EQ(toks[1].text, "rem$");
    EXPECT_EQ(toks[2].text, "REM");
    EXPECT_EQ(toks[3].kind, kTokColon);
}

TEST_F(BasicLexer, LineNumbersAndContinuation) {
    auto toks = lex("PRINT 1 _\n+ 2\nx");
    // PRINT 1 + 2 EOL x END: the continuation produced no token.
    ASSERT_EQ(toks.size(), 7u);
    EXPECT_EQ(toks[2].kind, kTokPlus);
    EXPECT_EQ(toks[2].line, 2);
    EXPECT_EQ(toks[4].kind, kTokEol);
    EXPECT_EQ(toks[4].line, 2);
    EXPECT_EQ(toks[5].line, 3);
    // '_' not preceded by blank, or followed by other text, is a name.
    EXPECT_EQ(lex("x_\n")[0].text, "x_");
    EXPECT_EQ(lex("x _ y")[1].text, "_");
    EXPECT_EQ(lex("x _")[1].text, "_");          // end of text after it
    EXPECT_EQ(lex("x _ \t\r\ny")[1].text, "y");  // blanks before the line feed are fine
}

TEST_F(BasicLexer, ByteOrderMarkShebangAndCarriageReturns) {
    auto toks = lex("\xEF\xBB\xBF#!/bin/tarn\nPRINT 1\r\n");
    EXPECT_EQ(toks[0].kind, kTokEol);
    EXPECT_EQ(toks[0].line, 1);
    EXPECT_EQ(toks[1].kind, kTokPrint);
    EXPECT_EQ(toks[1].line, 2);
    EXPECT_EQ(toks[3].kind, kTokEol);
    EXPECT_EQ(lex("#!x")[0].kind, kTokEnd);
    // '#' elsewhere is not a comment.
    EXPECT_EQ(lex_error("x\n#!y"), "unexpected character '#'");
}

TEST_F(BasicLexer, UnexpectedCharacters) {
    EXPECT_EQ(lex_error("x = \x0c"), "unexpected character '?'");
    EXPECT_EQ(lex_error("x = \xc3\xa9"), "unexpected character '?'");
    EXPECT_EQ(lex_error("x = @"), "unexpected character '@'");
    EXPECT_EQ(lex_error("x = \x7f"), "unexpected character '?'");
}

TEST_F(BasicLexer, ErrorsAreSticky) {
    std::string text = "a\nb\n\"open\nc d e";
    Lexer lx;
    lexer_init(&lx, text.data(), text.size());
    while (lx.token.kind != kTokError && lx.token.kind != kTokEnd) lexer_next(&lx);
    ASSERT_EQ(lx.token.kind, kTokError);
    EXPECT_EQ(lx.token.line, 3);
    for (int i = 0; i < 3; i++) {
        lexer_next(&lx);
        EXPECT_EQ(lx.token.kind, kTokError);
        EXPECT_EQ(lx.token.line, 3);
        EXPECT_STREQ(lx.message, "unterminated string");
    }
    lexer_free(&lx);
}

TEST_F(BasicLexer, NonTerminatedSourceIsReadOnlyToItsLength) {
    // The text is not NUL-terminated by contract: bytes after the length are never read.
    const char text[] = {'1', '2', '3', '4'};
    Lexer lx;
    lexer_init(&lx, text, 2);
    EXPECT_EQ(lx.token.kind, kTokNumber);
    EXPECT_EQ(lx.token.number, 12u);
    lexer_next(&lx);
    EXPECT_EQ(lx.token.kind, kTokEnd);
    lexer_free(&lx);
    const char word[] = {'a', 'b', 'c'};
    lexer_init(&lx, word, 2);
    EXPECT_STREQ(lx.token.text, "ab");
    lexer_free(&lx);
}
