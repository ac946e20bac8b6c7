// The built-in function library: strings, conversions, arithmetic, program information,
// keyboard, menu and record parsing, run through the interpreter.
#include "test_basic_support.h"

#include "runtime/console.h"

namespace {

using namespace tarn;
using basic_test::BasicTest;
using basic_test::RunResult;

class BasicLibTest : public BasicTest {
protected:
    // Code stopped by Ctrl-C: the interrupt's exit code and message.
    void expect_interrupted(const std::string& code) {
        RunResult r = run(code);
        EXPECT_EQ(r.code, 130) << code;
        EXPECT_NE(r.errors.find("interrupted (Ctrl-C)"), std::string::npos) << r.errors;
        EXPECT_EQ(r.out.find("after"), std::string::npos);
    }
};

TEST_F(BasicLibTest, LengthAndSlicesCountCodePoints) {
    EXPECT_EQ(out("PRINT LEN(\"h\xC3\xA9llo\")"), "5\n");
    EXPECT_EQ(out("PRINT LEFT$(\"h\xC3\xA9llo\", 2)"), "h\xC3\xA9\n");
    EXPECT_EQ(out("PRINT RIGHT$(\"h\xC3\xA9llo\", 4)"), "\xC3\xA9llo\n");
    EXPECT_EQ(out("PRINT \"[\" + LEFT$(\"abc\", -1) + \"][\" + LEFT$(\"abc\", 99) + \"]\""), "[][abc]\n");
    EXPECT_EQ(out("PRINT \"[\" + RIGHT$(\"abc\", 0) + \"][\" + RIGHT$(\"abc\", 9) + \"]\""), "[][abc]\n");
    EXPECT_EQ(out("PRINT \"[\" + MID$(\"abc\", 5) + \"]\""), "[]\n");
    EXPECT_EQ(out("PRINT MID$(\"h\xC3\xA9llo\", 2, 2)"), "\xC3\xA9l\n");
    EXPECT_EQ(out("PRINT MID$(\"abc\", 2, 9999999999)"), "bc\n");
    EXPECT_EQ(out("PRINT \"[\" + MID$(\"abc\", 9223372036854775807) + \"]\""), "[]\n");
    EXPECT_EQ(error("PRINT MID$(\"abc\", 0)"), "MID$: start position must be 1 or more");
    EXPECT_EQ(error("PRINT MID$(\"abc\", 1, -1)"), "MID$: negative length");
    // A malformed byte is one character.
    EXPECT_EQ(out("PRINT LEN(\"a\xE9\" + \"b\"); MID$(\"\xE9xy\", 2)"), "3xy\n");
}

TEST_F(BasicLibTest, Instr) {
    EXPECT_EQ(out("PRINT INSTR(\"abcabc\", \"c\")"), "3\n");
    EXPECT_EQ(out("PRINT INSTR(4, \"abcabc\", \"c\")"), "6\n");
    EXPECT_EQ(out("PRINT INSTR(\"abc\", \"\")"), "1\n");
    EXPECT_EQ(out("PRINT INSTR(3, \"abc\", \"\")"), "3\n");
    EXPECT_EQ(out("PRINT INSTR(-5, \"abc\", \"a\")"), "1\n");
    EXPECT_EQ(out("PRINT INSTR(\"abc\", \"x\")"), "0\n");
    EXPECT_EQ(out("PRINT INSTR(\"ab\", \"abc\")"), "0\n");
    EXPECT_EQ(out("PRINT INSTR(99, \"abc\", \"\")"), "0\n");
    EXPECT_EQ(out("PRINT INSTR(\"h\xC3\xA9llo\", \"l\")"), "3\n");
    EXPECT_EQ(out("PRINT INSTR(3, \"h\xC3\xA9llo\", \"l\")"), "3\n");
    EXPECT_EQ(error("PRINT INSTR(1, 2, \"x\")"), "INSTR([start,] text$, find$)");
    EXPECT_EQ(error("PRINT INSTR(\"a\", 2)"), "INSTR([start,] text$, find$)");
    EXPECT_EQ(error("PRINT INSTR(\"a\", \"b\", \"c\")"), "INSTR([start,] text$, find$)");
}

TEST_F(BasicLibTest, CaseTrimReplace) {
    EXPECT_EQ(out("PRINT UCASE$(\"ab\xC3\xA9z1\") + LCASE$(\"QRS\")"), "AB\xC3\xA9Z1qrs\n");
    EXPECT_EQ(out("PRINT \"[\" + TRIM$(CHR$(9) + \" a b \" + CHR$(13)) + \"]\""), "[a b]\n");
    EXPECT_EQ(out("PRINT \"[\" + LTRIM$(\"  a \") + \"][\" + RTRIM$(\"  a \") + \"]\""), "[a ][  a]\n");
    EXPECT_EQ(out("PRINT \"[\" + TRIM$(\"   \") + \"]\""), "[]\n");
    EXPECT_EQ(out("PRINT REPLACE$(\"aaa\", \"aa\", \"b\")"), "ba\n");
    EXPECT_EQ(out("PRINT REPLACE$(\"abc\", \"\", \"x\")"), "abc\n");
    EXPECT_EQ(out("PRINT REPLACE$(\"a.b.c\", \".\", \"::\")"), "a::b::c\n");
    EXPECT_EQ(out("PRINT \"[\" + REPLACE$(\"xx\", \"x\", \"\") + \"]\""), "[]\n");
    EXPECT_EQ(out("PRINT REPLACE$(\"h\xC3\xA9h\", \"h\", \"\xE2\x82\xAC\")"), "\xE2\x82\xAC\xC3\xA9\xE2\x82\xAC\n");
    EXPECT_EQ(out("a$ = STRING$(1000, \"ab\"): PRINT LEN(REPLACE$(a$, \"a\", a$))"), "1000000\n");
}

TEST_F(BasicLibTest, RepeatAndPad) {
    EXPECT_EQ(out("PRINT STRING$(3, \"xy\")"), "xxx\n");
    EXPECT_EQ(out("PRINT STRING$(2, 65)"), "AA\n");
    EXPECT_EQ(out("PRINT STRING$(2, \"\xC3\xA9z\")"), "\xC3\xA9\xC3\xA9\n");
    EXPECT_EQ(out("PRINT LEN(STRING$(1000000, 8364))"), "1000000\n");
    EXPECT_EQ(out("PRINT \"[\" + STRING$(0, \"a\") + \"]\""), "[]\n");
    EXPECT_EQ(error("PRINT STRING$(1000001, \"a\")"), "STRING$: invalid count");
    EXPECT_EQ(error("PRINT STRING$(-1, \"a\")"), "STRING$: invalid count");
    EXPECT_EQ(error("PRINT STRING$(1, \"\")"), "STRING$: empty character");
    EXPECT_EQ(error("PRINT STRING$(1, 1114112)"), "CHR$: invalid character code");
    EXPECT_EQ(error("PRINT STRING$(1, -1)"), "CHR$: invalid character code");
    EXPECT_EQ(out("PRINT \"[\" + SPACE$(3) + \"]\""), "[   ]\n");
    EXPECT_EQ(error("PRINT SPACE$(-1)"), "SPACE$: invalid count");
    EXPECT_EQ(error("PRINT SPACE$(9223372036854775807)"), "SPACE$: invalid count");
    EXPECT_EQ(out("PRINT LPAD$(\"7\", 3, \"0\")"), "007\n");
    EXPECT_EQ(out("PRINT RPAD$(\"abcd\", 2)"), "abcd\n");
    EXPECT_EQ(out("PRINT RPAD$(\"a\", 3) + \"|\""), "a  |\n");
    EXPECT_EQ(out("PRINT LPAD$(\"a\", 3, \"\") + \"|\""), "  a|\n");
    EXPECT_EQ(out("PRINT LPAD$(\"\xC3\xA9\", 3, \"\xE2\x82\xACx\")"), "\xE2\x82\xAC\xE2\x82\xAC\xC3\xA9\n");
    EXPECT_EQ(error("PRINT LPAD$(\"a\", -1)"), "LPAD$: invalid width");
    EXPECT_EQ(error("PRINT RPAD$(\"a\", 1000001)"), "RPAD$: invalid width");
    EXPECT_EQ(error("PRINT LPAD$(\"a\", -9223372036854775807 - 1)"), "LPAD$: invalid width");
}

TEST_F(BasicLibTest, Conversions) {
    EXPECT_EQ(out("PRINT VAL(\"12abc\")"), "12\n");
    EXPECT_EQ(out("PRINT VAL(\"  -&H10\")"), "-16\n");
    EXPECT_EQ(out("PRINT VAL(\"x\")"), "0\n");
    EXPECT_EQ(out("PRINT VAL(\"3.7\")"), "3\n");
    EXPECT_EQ(out("PRINT VAL(\"\")"), "0\n");
    EXPECT_EQ(out("PRINT STR$(-42)"), "-42\n");
    EXPECT_EQ(out("PRINT HEX$(255)"), "FF\n");
    EXPECT_EQ(out("PRINT HEX$(255, 4)"), "00FF\n");
    EXPECT_EQ(out("PRINT HEX$(255, 1)"), "FF\n");
    EXPECT_EQ(out("PRINT HEX$(0, 0)"), "0\n");
    EXPECT_EQ(out("PRINT HEX$(-1)"), "FFFFFFFFFFFFFFFF\n");
    EXPECT_EQ(out("PRINT LEN(BIN$(-1)); LEN(BIN$(1, 64))"), "6464\n");
    EXPECT_EQ(out("PRINT BIN$(5)"), "101\n");
    EXPECT_EQ(out("PRINT OCT$(8, 3)"), "010\n");
    EXPECT_EQ(out("PRINT OCT$(-1)"), "1777777777777777777777\n");
    EXPECT_EQ(error("PRINT BIN$(5, 65)"), "invalid number of digits");
    EXPECT_EQ(error("PRINT HEX$(5, -1)"), "invalid number of digits");
    EXPECT_EQ(out("PRINT ASC(\"\xE2\x82\xAC\"); ASC(\"A\")"), "836465\n");
    EXPECT_EQ(error("PRINT ASC(\"\")"), "ASC: empty string");
    EXPECT_EQ(out("PRINT LEN(CHR$(0)); LEN(CHR$(1114111))"), "11\n");
    EXPECT_EQ(error("PRINT CHR$(1114112)"), "CHR$: invalid character code");
}

TEST_F(BasicLibTest, SplitJoinUbound) {
    EXPECT_EQ(out("n = SPLIT(\"a,,b,\", \",\", p$()): PRINT n; UBOUND(p$()): PRINT JOIN$(p$(), \"|\")"),
              "43\na||b|\n");
    EXPECT_EQ(out("PRINT SPLIT(\"  a  b \", \"\", p$()): PRINT JOIN$(p$(), \"+\")"), "2\na+b\n");
    EXPECT_EQ(out("PRINT SPLIT(\"\", \",\", p$()); UBOUND(p$())"), "0-1\n");
    EXPECT_EQ(out("PRINT SPLIT(\"a--b--\", \"--\", p$()): PRINT JOIN$(p$(), \"/\")"), "3\na/b/\n");
    // Replaces a larger array completely.
    EXPECT_EQ(out("DIM p$(9): PRINT SPLIT(\"x y\", \" \", p$()); UBOUND(p$())"), "21\n");
    EXPECT_EQ(error("PRINT SPLIT(\"x\", \",\", n())"), "SPLIT needs a string array (name ending with $)");
    EXPECT_EQ(out("DIM a(2): a(1) = -5: PRINT JOIN$(a(), \",\")"), "0,-5,0\n");
    EXPECT_EQ(error("PRINT UBOUND(zz())"), "zz is not an array (declare it with DIM)");
}

TEST_F(BasicLibTest, Arithmetic) {
    EXPECT_EQ(out("PRINT ABS(-3); ABS(4); SGN(-9); SGN(0); SGN(7)"), "34-101\n");
    EXPECT_EQ(out("PRINT ABS(-9223372036854775807 - 1)"), "-9223372036854775808\n");
    EXPECT_EQ(out("PRINT MIN(3, -2, 8); MAX(3, -2, 8); MIN(5)"), "-285\n");
    EXPECT_EQ(error("PRINT RND(0)"), "RND: limit must be positive");
    EXPECT_EQ(error("PRINT RND(-3)"), "RND: limit must be positive");
}

TEST_F(BasicLibTest, RandomSequenceFromKnownState) {
    ScriptEngine* e = engine_create(0, nullptr, false);
    e->random_state = 1;
    // Three xorshift steps from 1, by hand.
    uint64_t x = 1, expect[3];
    for (auto& v : expect) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        v = x;
    }
    const auto* rnd = find_function("rnd");
    ASSERT_NE(rnd, nullptr);
    Value r;
    ASSERT_TRUE(call_builtin(e, rnd, nullptr, nullptr, 0, &r));
    EXPECT_EQ(r.number, static_cast<int64_t>(expect[0] >> 33));
    Value limit = number_value(10);
    ASSERT_TRUE(rnd->handler(e, nullptr, &limit, 1, &r));
    EXPECT_EQ(r.number, static_cast<int64_t>(expect[1] % 10));
    limit = number_value(INT64_MAX);
    ASSERT_TRUE(rnd->handler(e, nullptr, &limit, 1, &r));
    EXPECT_EQ(r.number, static_cast<int64_t>(expect[2] % static_cast<uint64_t>(INT64_MAX)));
    engine_destroy(e);
    // Never negative, whatever the state.
    EXPECT_EQ(out("FOR i = 1 TO 200: IF RND < 0 OR RND(3) < 0 OR RND(3) > 2 THEN PRINT \"bad\"\nNEXT"), "");
}

TEST_F(BasicLibTest, ArgumentChecks) {
    EXPECT_EQ(error("PRINT LEN(1)"), "len: argument 1 must be a string");
    EXPECT_EQ(error("PRINT LEFT$(\"a\")"), "left$ expects 2 arguments");
    EXPECT_EQ(error("PRINT MID$(\"a\")"), "mid$ expects 2 to 3 arguments");
    EXPECT_EQ(error("PRINT ABS(1, 2)"), "abs expects 1 argument");
    EXPECT_EQ(error("PRINT HEX$(\"1\")"), "hex$: argument 1 must be a number");
    EXPECT_EQ(error("PRINT LPAD$(\"a\", 2, 3)"), "lpad$: argument 3 must be a string");
    EXPECT_EQ(error("PRINT MAX(1, 2, \"3\")"), "max: argument 3 must be a number");
}

TEST_F(BasicLibTest, ProgramInformation) {
    RunResult r = run("PRINT ARGC; \"|\" + ARG$(0) + \"|\" + ARG$(2) + \"|\" + ARG$(3) + \"|\" + ARG$(-1)",
                      {"one", "two"}, "fs0:\\s.tsb");
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.out, "2|fs0:\\s.tsb|two||\n");
    EXPECT_EQ(out("PRINT PLATFORM$ + \" \" + VERSION$"), "UEFI x86_64 0.2.1\n");
    EXPECT_EQ(out("a = TICKS: b = TICKS: PRINT b >= a AND a >= 0"), "-1\n");
}

TEST_F(BasicLibTest, DateAndTime) {
    efi::Time t{};
    t.year = 2026;
    t.month = 3;
    t.day = 7;
    t.hour = 4;
    t.minute = 5;
    t.second = 9;
    fw.set_wall_time(t);
    EXPECT_EQ(out("PRINT DATE$ + \" \" + TIME$"), "2026-03-07 04:05:09\n");
    fw.set_get_time_status(efi::kDeviceError);
    EXPECT_EQ(out("PRINT \"[\" + DATE$ + \"][\" + TIME$ + \"]\""), "[][]\n");
}

TEST_F(BasicLibTest, KeyNames) {
    fw.push_key(u'a');
    fw.push_key(u'\x20AC');
    fw.push_key(13);
    fw.push_key(8);
    fw.push_key(9);
    fw.push_key(27);
    fw.push_key(0, 1);
    fw.push_key(0, 10);
    fw.push_key(0, 11);
    fw.push_key(0, 20);
    fw.push_key(0, 0x17);
    fw.push_key(0, 0x30);
    fw.push_key(2);  // Ctrl-B: no name
    EXPECT_EQ(out("FOR i = 1 TO 13: PRINT \"[\" + KEY$(-1) + \"]\";\nNEXT"),
              "[a][\xE2\x82\xAC][ENTER][BACKSPACE][TAB][ESC][UP][PGDN][F1][F10][ESC][][]");
}

TEST_F(BasicLibTest, KeyWaitsAndTimesOut) {
    EXPECT_EQ(out("PRINT \"[\" + KEY$ + \"]\""), "[]\n");
    uint64_t before = fw.now_us();
    EXPECT_EQ(out("PRINT \"[\" + KEY$(300) + \"]\""), "[]\n");
    EXPECT_GE(fw.now_us() - before, 300000u);
    fw.push_key(u'z', 0, 0, 100000);
    EXPECT_EQ(out("PRINT KEY$(1000)"), "z\n");
}

TEST_F(BasicLibTest, KeyCtrlCStops) {
    fw.push_key(3);
    expect_interrupted("k$ = KEY$(-1): PRINT \"after\"");
}

TEST_F(BasicLibTest, MenuChoosesWithKeys) {
    fw.push_key(0, 2);  // Down
    fw.push_key(13);
    EXPECT_EQ(out("PRINT MENU(\"Pick\", \"one|two|three\")"), "2\n");
    fw.push_key(13);
    EXPECT_EQ(out("PRINT MENU(\"Pick\", \"one|two|three\", 0, 3)"), "3\n");
    fw.push_key(13);
    EXPECT_EQ(out("PRINT MENU(\"Pick\", \"one|two\", 0, 7)"), "1\n");
    fw.push_key(27);
    EXPECT_EQ(out("PRINT MENU(\"Pick\", \"one|two\")"), "0\n");
    fw.push_key(3);
    expect_interrupted("PRINT MENU(\"Pick\", \"one|two\"): PRINT \"after\"");
}

TEST_F(BasicLibTest, MenuTimeoutChoosesDefault) {
    EXPECT_EQ(out("PRINT MENU(\"Pick\", \"a|b|c\", 1, 2)"), "2\n");
}

TEST_F(BasicLibTest, FieldOfRecord) {
    EXPECT_EQ(out("r$ = \"volume=fs0\" + CHR$(13) + CHR$(10) + \"size=5\"\n"
                  "PRINT FIELD$(r$, \"VOLUME\") + \"|\"; ERR: PRINT \"[\" + FIELD$(r$, \"nope\") + \"]\"; ERR\n"
                  "PRINT FIELD$(r$, \"size\")"),
              "fs0|0\n[]1\n5\n");
    EXPECT_EQ(out("PRINT \"[\" + FIELD$(\"sizex=1\" + CHR$(10) + \"size=\", \"size\") + \"]\"; ERR"), "[]0\n");
    EXPECT_EQ(out("PRINT \"[\" + FIELD$(\"\", \"a\") + \"]\"; ERR"), "[]1\n");
}

TEST_F(BasicLibTest, RecordsSplitAtEmptyLines) {
    const std::string nl = " + CHR$(10) + ";
    EXPECT_EQ(out("t$ = \"a=1\"" + nl + "\"b=2\"" + nl + "CHR$(10) + \"a=3\"" + nl + "CHR$(10)" + nl +
                  "\"\"\nPRINT RECORDS(t$, r$()): PRINT FIELD$(r$(0), \"b\") + FIELD$(r$(1), \"a\"); UBOUND(r$())"),
              "2\n231\n");
    EXPECT_EQ(out("t$ = CHR$(13) + CHR$(10) + \"x=1\" + CHR$(13) + CHR$(10) + CHR$(13) + CHR$(10) + \"x=2\"\n"
                  "PRINT RECORDS(t$, r$()): PRINT FIELD$(r$(0), \"x\") + FIELD$(r$(1), \"x\")"),
              "2\n12\n");
    EXPECT_EQ(out("PRINT RECORDS(\"\", r$()); RECORDS(CHR$(10) + CHR$(13) + CHR$(10), r$()); UBOUND(r$())"),
              "00-1\n");
    EXPECT_EQ(error("PRINT RECORDS(\"a=1\", r())"), "RECORDS needs a string array (name ending with $)");
}

TEST_F(BasicLibTest, EveryRowIsRegisteredInOrder) {
    EXPECT_EQ(function_count(), 54u);
    EXPECT_STREQ(function_at(0)->name, "len");
    EXPECT_STREQ(function_at(53)->name, "version$");
    for (uint64_t i = 0; i < function_count(); i++) {
        const auto* row = function_at(i);
        EXPECT_LE(row->min_args, row->max_args) << row->name;
        EXPECT_LE(row->max_args, 16u) << row->name;
    }
}

}  // namespace
