// Building strings: appending to a variable in place, joining '+' chains at once, and the
// shared-string rules both must keep (a copy never sees a later append).
#include "test_basic_support.h"

using namespace basic_test;

namespace {

class BasicAppend : public BasicTest {};

struct OutCase {
    const char* code;
    const char* output;
};

struct ErrorCase {
    const char* code;
    const char* message;
};

// Procedures used by the cases below: one changes s$ while an append to it is evaluated.
constexpr char kProcedures[] =
    "FUNCTION poke$(t$)\n s$ = \"<\" + t$ + \">\"\n RETURN t$\nEND FUNCTION\n"
    "FUNCTION grow$()\n s$ = s$ + \"g\"\n RETURN \"r\"\nEND FUNCTION\n"
    "FUNCTION keep$()\n k$ = s$\n RETURN \"\"\nEND FUNCTION\n"
    "FUNCTION redim$()\n DIM s$(2)\n RETURN \"d\"\nEND FUNCTION\n"
    "SUB local_append(n)\n LOCAL w$\n FOR i = 1 TO n: w$ = w$ + CHR$(48 + i): NEXT\n PRINT w$\nEND SUB\n";

constexpr OutCase kOutCases[] = {
    // A copy taken before the appends keeps its text.
    {"s$ = \"ab\": t$ = s$: s$ = s$ + \"c\": s$ = s$ + \"d\": PRINT s$; \" \"; t$", "abcd ab\n"},
    {"s$ = \"ab\": s$ = s$ + \"c\": t$ = s$: s$ = s$ + \"d\": PRINT s$; \" \"; t$", "abcd abc\n"},
    {"DIM a$(1): s$ = \"x\": a$(0) = s$: s$ = s$ + \"y\": PRINT a$(0); s$", "xxy\n"},
    {"s$ = \"q\": FOR i = 1 TO 40: s$ = s$ + \"w\": IF i = 20 THEN m$ = s$\nNEXT: PRINT LEN(m$); LEN(s$)",
     "2141\n"},
    // Several pieces at once, empty pieces, and the variable itself as a piece.
    {"s$ = \"a\": s$ = s$ + \"b\" + \"\" + CHR$(99) + STR$(4): PRINT s$", "abc4\n"},
    {"s$ = \"ab\": s$ = s$ + s$: s$ = s$ + s$ + \"!\": PRINT s$", "abababab!\n"},
    {"s$ = s$ + \"first\": PRINT s$", "first\n"},
    {"s$ = \"\": s$ = s$ + \"\": PRINT \"[\"; s$; \"]\"", "[]\n"},
    // A procedure called from the appended pieces sees, and may change, the variable:
    // the statement still assigns the text as it was before the pieces ran.
    {"s$ = \"a\": s$ = s$ + poke$(\"b\"): PRINT s$", "ab\n"},
    {"s$ = \"a\": s$ = s$ + grow$() + grow$(): PRINT s$", "arr\n"},
    {"s$ = \"a\": s$ = s$ + keep$() + \"z\": PRINT s$; \" \"; k$", "az a\n"},
    // Non-ASCII text: lengths in characters stay right after appends.
    {"s$ = \"a\": s$ = s$ + \"b\": PRINT LEN(s$): s$ = s$ + CHR$(233): PRINT LEN(s$); MID$(s$, 3, 1) = CHR$(233)",
     "2\n3-1\n"},
    // Locals and parameters append as globals do.
    {"local_append 5", "12345\n"},
    // Chains that are not appends: built once, same results.
    {"a$ = \"1\": b$ = \"2\": c$ = a$ + b$ + a$ + \"3\" + b$: PRINT c$; \" \"; a$; b$", "12132 12\n"},
    {"PRINT 1 + 2 + 3 + 4; 9223372036854775807 + 1 + 1", "10-9223372036854775807\n"},
    {"x = 5: PRINT x + x * 2 + (x + 1) + 0", "21\n"},
    {"s$ = \"p\": t$ = \"q\" + s$ + s$: s$ = s$ + \"r\": PRINT t$; s$", "qpppr\n"},
};

constexpr ErrorCase kErrorCases[] = {
    {"s$ = \"a\": s$ = s$ + \"b\" + 5",
     "type mismatch: cannot combine a string and a number with '+' (use STR$ or VAL)"},
    {"s$ = \"a\": s$ = s$ + 1 + \"b\"",
     "type mismatch: cannot combine a string and a number with '+' (use STR$ or VAL)"},
    {"PRINT 1 + 2 + \"c\"", "type mismatch: cannot combine a string and a number with '+' (use STR$ or VAL)"},
    {"DIM s$(3): s$ = s$ + \"x\"", "s$ is an array: use s$(index)"},
    {"s$ = \"a\": s$ = s$ + redim$()", "s$ is an array: use s$(index) = value"},
    {"s$ = s$ + \"b\" - \"c\"", "operator '-' cannot be used with strings"},
};

}  // namespace

TEST_F(BasicAppend, ResultsAndSharedCopies) {
    for (const OutCase& c : kOutCases) EXPECT_EQ(out(std::string(kProcedures) + c.code), c.output) << c.code;
}

TEST_F(BasicAppend, ErrorsAreThoseOfTheSingleOperators) {
    for (const ErrorCase& c : kErrorCases) EXPECT_EQ(error(std::string(kProcedures) + c.code), c.message) << c.code;
}

TEST_F(BasicAppend, ManyAppendsGiveTheWholeText) {
    std::string expected;
    for (int i = 0; i < 20000; i++) expected += static_cast<char>('a' + i % 26);
    EXPECT_EQ(out("FOR i = 0 TO 19999: s$ = s$ + CHR$(97 + i MOD 26): NEXT: PRINT s$"), expected + "\n");
}

// The string layer itself: in place while there is room, a doubled block otherwise.
TEST_F(BasicAppend, UniqueStringsGrowByDoubling) {
    SharedString* s = new_string("ab", 2);
    EXPECT_EQ(string_capacity(s), 2u);
    int moves = 0;
    std::string expected = "ab";
    for (int i = 0; i < 100000; i++) {
        char c = static_cast<char>('0' + i % 10);
        StringPiece piece = {&c, 1};
        SharedString* grown = string_append_unique(s, &piece, 1);
        ASSERT_NE(grown, nullptr);
        if (grown != s) moves++;
        s = grown;
        expected += c;
    }
    EXPECT_EQ(std::string(s->bytes(), s->length), expected);
    EXPECT_EQ(s->bytes()[s->length], 0);
    EXPECT_GE(string_capacity(s), s->length);
    EXPECT_LE(moves, 20);  // about log2(100000 / 32) + 1
    string_release(s);
}

TEST_F(BasicAppend, AppendKeepsTheAsciiFactHonest) {
    struct Case {
        const char* start;
        const char* piece;
        bool check_first;  // work out the fact before appending
        bool ascii;
    };
    const Case cases[] = {
        {"abc", "def", true, true},
        {"abc", "d\xc3\xa9", true, false},
        {"\xc3\xa9", "abc", true, false},
        {"abc", "d\xc3\xa9", false, false},
        {"abc", "def", false, true},
    };
    for (const Case& c : cases) {
        SharedString* s = new_string_text(c.start);
        if (c.check_first) (void)string_is_ascii(s);
        StringPiece pieces[2] = {{c.piece, strlen(c.piece)}, {"", 0}};
        s = string_append_unique(s, pieces, 2);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(string_is_ascii(s), c.ascii) << c.start << " + " << c.piece;
        EXPECT_EQ(std::string(s->bytes()), std::string(c.start) + c.piece);
        string_release(s);
    }
}

TEST_F(BasicAppend, AppendFailsCleanlyWhenMemoryRunsOut) {
    SharedString* s = new_string("abc", 3);
    fw.fail_allocations_from(0);
    std::string big(4096, 'x');
    StringPiece piece = {big.data(), big.size()};
    EXPECT_EQ(string_append_unique(s, &piece, 1), nullptr);
    fw.fail_allocations_from(-1);
    EXPECT_EQ(std::string(s->bytes(), s->length), "abc");
    string_release(s);
}
