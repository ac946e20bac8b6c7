// BASIC values and expressions: operators and their corner cases, strings, variables,
// scopes and arrays.
#include "test_basic_support.h"

using namespace basic_test;

namespace {

class BasicValues : public BasicTest {};

}  // namespace

TEST_F(BasicValues, IntegerArithmeticWraps) {
    EXPECT_EQ(out("PRINT 9223372036854775807 + 1"), "-9223372036854775808\n");
    EXPECT_EQ(out("PRINT -9223372036854775808 - 1"), "9223372036854775807\n");
    EXPECT_EQ(out("PRINT 4611686018427387904 * 4"), "0\n");
    EXPECT_EQ(out("PRINT -9223372036854775808"), "-9223372036854775808\n");
    EXPECT_EQ(out("x = -9223372036854775808: PRINT -x"), "-9223372036854775808\n");
    EXPECT_EQ(out("PRINT 7 \\ 2; 7 / 2; -7 / 2; 7 / -2"), "33-3-3\n");
    EXPECT_EQ(out("PRINT -7 MOD 2; 7 MOD -2; -7 MOD -2"), "-11-1\n");
    EXPECT_EQ(out("PRINT -9223372036854775808 / -1"), "-9223372036854775808\n");
    EXPECT_EQ(out("PRINT -9223372036854775808 \\ -1"), "-9223372036854775808\n");
    EXPECT_EQ(out("PRINT -9223372036854775808 MOD -1"), "0\n");
    EXPECT_EQ(error("PRINT 5 MOD 0"), "division by zero");
    EXPECT_EQ(error("PRINT 5 / 0"), "division by zero");
    EXPECT_EQ(error("x = 0: PRINT 5 \\ x"), "division by zero");
}

TEST_F(BasicValues, Powers) {
    EXPECT_EQ(out("PRINT -2 ^ 2"), "-4\n");
    EXPECT_EQ(out("PRINT (-2) ^ 2"), "4\n");
    EXPECT_EQ(out("PRINT 2 ^ 3 ^ 2"), "512\n");
    EXPECT_EQ(out("PRINT 2 ^ 63"), "-9223372036854775808\n");
    EXPECT_EQ(out("PRINT 2 ^ 64"), "0\n");
    EXPECT_EQ(out("PRINT 0 ^ 0; 5 ^ 0; 3 ^ 1"), "113\n");
    EXPECT_EQ(out("PRINT (-1) ^ 9223372036854775807"), "-1\n");
    EXPECT_EQ(out("PRINT 3 ^ 40"), "-6289078614652622815\n");
    EXPECT_EQ(error("PRINT 2 ^ (-1)"), "negative exponent");
}

TEST_F(BasicValues, ShiftsAndBitwise) {
    EXPECT_EQ(out("PRINT 1 SHL 64"), "0\n");
    EXPECT_EQ(out("PRINT 1 SHL 63"), "-9223372036854775808\n");
    EXPECT_EQ(out("PRINT 1 SHL -1"), "0\n");
    EXPECT_EQ(out("PRINT -1 SHR 1"), "9223372036854775807\n");
    EXPECT_EQ(out("PRINT -1 SHR 64; -1 SHR 63"), "01\n");
    EXPECT_EQ(out("PRINT 1 SHL 2 + 1"), "8\n");  // shifts bind looser than +
    EXPECT_EQ(out("PRINT 12 AND 10; 12 OR 10; 12 XOR 10"), "8146\n");
    EXPECT_EQ(out("PRINT NOT 0; NOT -1; NOT 5"), "-10-6\n");
    EXPECT_EQ(out("PRINT 1 OR 2 AND 0"), "1\n");
}

TEST_F(BasicValues, ComparisonsGiveMinusOneOrZero) {
    EXPECT_EQ(out("PRINT 1 < 2; 2 < 1; 1 = 1; 1 <> 1; 2 >= 2; 1 > 2; 1 <= 1"), "-10-10-10-1\n");
    EXPECT_EQ(out("PRINT 3 < 2 < 1"), "-1\n");  // (3 < 2) is 0, 0 < 1
    EXPECT_EQ(out("PRINT -9223372036854775808 < 9223372036854775807"), "-1\n");
    EXPECT_EQ(out("PRINT NOT 1 = 2"), "-1\n");
}

TEST_F(BasicValues, StringsCompareByBytes) {
    EXPECT_EQ(out("PRINT \"abc\" < \"abd\"; \"ab\" < \"abc\"; \"B\" < \"a\"; \"a\" = \"a\"; \"\" < \"a\""),
              "-1-1-1-1-1\n");
    EXPECT_EQ(out("PRINT \"\xc3\xa9\" > \"z\"; \"abc\" >= \"abc\"; \"b\" <> \"B\""), "-1-1-1\n");
    EXPECT_EQ(out("PRINT \"a\" + \"b\" + \"\" + \"c\""), "abc\n");
    EXPECT_EQ(out("a$ = \"x\" + CHR$(0) + \"y\": PRINT LEN(a$)"), "3\n");
    EXPECT_EQ(out("PRINT \"a\" + CHR$(0) < \"a\" + CHR$(1)"), "-1\n");
}

TEST_F(BasicValues, OperatorKindErrors) {
    EXPECT_EQ(error("PRINT \"n=\" + 5"),
              "type mismatch: cannot combine a string and a number with '+' (use STR$ or VAL)");
    EXPECT_EQ(error("PRINT 1 MOD \"a\""),
              "type mismatch: cannot combine a string and a number with mod (use STR$ or VAL)");
    EXPECT_EQ(error("PRINT \"a\" - \"b\""), "operator '-' cannot be used with strings");
    EXPECT_EQ(error("PRINT \"a\" AND \"b\""), "operator and cannot be used with strings");
    EXPECT_EQ(error("PRINT -\"a\""), "unary minus needs a number");
    EXPECT_EQ(error("PRINT NOT \"a\""), "NOT needs a number");
}

TEST_F(BasicValues, BothOperandsAreAlwaysEvaluated) {
    std::string code =
        "FUNCTION f(x)\n PRINT \"f\";\n RETURN x\nEND FUNCTION\n"
        "FUNCTION g(x)\n PRINT \"g\";\n RETURN x\nEND FUNCTION\n"
        "PRINT f(1) OR g(1)\nPRINT f(0) AND g(0)\n";
    EXPECT_EQ(out(code), "fg1\nfg0\n");
}

TEST_F(BasicValues, ConditionsOfStringsAndNumbers) {
    EXPECT_EQ(out("IF \"x\" THEN PRINT \"yes\"\nIF \"\" THEN PRINT \"no\"\nIF 0 THEN PRINT 0 ELSE PRINT 1"),
              "yes\n1\n");
    EXPECT_EQ(out("i = 0: WHILE \"a\": i = i + 1: IF i = 3 THEN EXIT WHILE\nWEND: PRINT i"), "3\n");
}

TEST_F(BasicValues, VariablesDefaultsAndTypes) {
    EXPECT_EQ(out("PRINT x\nPRINT y$"), "0\n\n");
    EXPECT_EQ(out("a = 1: a$ = \"s\": PRINT a; a$"), "1s\n");
    EXPECT_EQ(out("Abc = 4: PRINT aBC"), "4\n");
    EXPECT_EQ(error("x = \"5\""), "type mismatch: x is a numeric variable");
    EXPECT_EQ(error("x$ = 5"), "type mismatch: x$ is a string variable");
    EXPECT_EQ(error("len = 5"), "len is a function name and cannot be assigned");
    EXPECT_EQ(error("SUB s\nEND SUB\ns = 1"), "s is a function name and cannot be assigned");
}

TEST_F(BasicValues, ReadingAnUndefinedNameCreatesNothing) {
    // Reading y does not create it: a later DIM y(2) is a first dimensioning.
    EXPECT_EQ(out("PRINT y: DIM y(2): PRINT UBOUND(y)"), "0\n2\n");
}

TEST_F(BasicValues, Arrays) {
    EXPECT_EQ(out("DIM a(10): a(10) = 7: PRINT a(10); a(0); UBOUND(a)"), "7010\n");
    EXPECT_EQ(error("DIM a(10): PRINT a(11)"), "index 11 out of range for a (0 to 10)");
    EXPECT_EQ(error("DIM a(10): a(-1) = 1"), "index -1 out of range for a (0 to 10)");
    EXPECT_EQ(error("DIM a(-1): PRINT a(0)"), "index 0 out of range for a (0 to -1)");
    EXPECT_EQ(out("DIM a(-1): PRINT UBOUND(a)"), "-1\n");
    EXPECT_EQ(error("DIM a(5): DIM a(5)"), "a is already dimensioned (use REDIM to resize)");
    EXPECT_EQ(out("REDIM a(2): a(0) = 1: a(2) = 3: REDIM a(5): PRINT a(0); a(2); a(3); a(5); UBOUND(a)"),
              "13005\n");
    EXPECT_EQ(out("DIM a(3): a(1) = 9: REDIM a(0): REDIM a(2): PRINT a(0); a(1)"), "00\n");
    EXPECT_EQ(out("DIM n$(3): PRINT \"[\" + n$(1) + \"]\""), "[]\n");
    EXPECT_EQ(error("DIM n$(3): n$(1) = 5"), "type mismatch: n$ is a string variable");
    EXPECT_EQ(error("DIM a(3): PRINT a"), "a is an array: use a(index)");
    EXPECT_EQ(error("DIM a(3): PRINT a(1, 2)"), "a is an array: use a(index)");
    EXPECT_EQ(error("DIM a(3): a = 1"), "a is an array: use a(index) = value");
    EXPECT_EQ(error("x = 1: x(1) = 2"), "x is not an array (declare it with DIM)");
    EXPECT_EQ(error("q(1) = 2"), "q is not an array (declare it with DIM)");
    EXPECT_EQ(error("DIM a(3): PRINT a(\"1\")"), "number expected, found a string");
    EXPECT_EQ(error("DIM a(10000001)"), "invalid array size 10000001");
    EXPECT_EQ(error("DIM a(-2)"), "invalid array size -2");
    EXPECT_EQ(error("DIM len(3)"), "len is the name of a built-in function");
    EXPECT_EQ(error("DIM a(3): DIM a"), "a is an array");
    EXPECT_EQ(error("PRINT nosuch(1)"), "unknown function or array: nosuch");
}

TEST_F(BasicValues, ArrayOfAScalarBecomesAnArray) {
    EXPECT_EQ(out("x = 5: DIM x(2): x(1) = 4: PRINT x(1); UBOUND(x)"), "42\n");
    EXPECT_EQ(out("x$ = \"abc\": DIM x$(1): PRINT \"[\" + x$(0) + \"]\""), "[]\n");
}

TEST_F(BasicValues, ScopesOfProcedures) {
    std::string code =
        "count = 0\n"
        "SUB bump\n count = count + 1\n made = 5\nEND SUB\n"
        "SUB shadow(count)\n count = 99\nEND SUB\n"
        "SUB withlocal\n LOCAL count\n count = 50\n inner\nEND SUB\n"
        "SUB inner\n PRINT \"inner sees\"; count\nEND SUB\n"
        "bump: bump: shadow 1: withlocal\n"
        "PRINT count; made\n";
    EXPECT_EQ(out(code), "inner sees2\n25\n");
    EXPECT_EQ(error("SUB s\n LOCAL a\n LOCAL a\nEND SUB\ns"), "a is already a local variable");
    EXPECT_EQ(error("SUB s\n LOCAL len\nEND SUB\ns"), "len is the name of a built-in function");
    EXPECT_EQ(out("SUB s\n LOCAL a(2)\n a(2) = 4\n PRINT a(2)\nEND SUB\ns: s"), "4\n4\n");
    // The local array is gone after the call.
    EXPECT_EQ(error("SUB s\n LOCAL a(2)\nEND SUB\ns: PRINT UBOUND(a)"), "a is not an array (declare it with DIM)");
}

TEST_F(BasicValues, LocalArraysAreFreshEachCall) {
    EXPECT_EQ(out("SUB s\n LOCAL a(1)\n PRINT a(1);\n a(1) = 7\nEND SUB\ns: s: PRINT"), "00\n");
}

TEST_F(BasicValues, TextToNumber) {
    auto num = [](const char* text, int64_t* v) { return text_to_number(text, strlen(text), v); };
    int64_t v = 0;
    EXPECT_TRUE(num("  42  ", &v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(num("-&H10", &v));
    EXPECT_EQ(v, -16);
    EXPECT_TRUE(num("+0b101", &v));
    EXPECT_EQ(v, 5);
    EXPECT_TRUE(num("&o17", &v));
    EXPECT_EQ(v, 15);
    EXPECT_TRUE(num("0xFF", &v));
    EXPECT_EQ(v, 255);
    EXPECT_TRUE(num("1_000", &v));
    EXPECT_EQ(v, 1000);
    EXPECT_TRUE(num("_1_", &v));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(num("18446744073709551617", &v));  // wraps
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(num("", &v));
    EXPECT_FALSE(num("   ", &v));
    EXPECT_FALSE(num("-", &v));
    EXPECT_FALSE(num("0x", &v));
    EXPECT_FALSE(num("12abc", &v));
    EXPECT_FALSE(num("1 2", &v));
    EXPECT_FALSE(num("&b102", &v));
    EXPECT_FALSE(num("3.7", &v));
    EXPECT_FALSE(num("abc", &v));
}

TEST_F(BasicValues, CompareAndValueText) {
    SharedString* a = new_string_text("ab");
    SharedString* b = new_string_text("abc");
    Value va = string_value(a), vb = string_value(b);
    EXPECT_LT(compare(va, vb), 0);
    EXPECT_GT(compare(vb, va), 0);
    EXPECT_EQ(compare(va, va), 0);
    EXPECT_LT(compare(number_value(INT64_MIN), number_value(INT64_MAX)), 0);
    char scratch[24];
    uint64_t n = 0;
    EXPECT_STREQ(value_text(number_value(INT64_MIN), scratch, &n), "-9223372036854775808");
    EXPECT_EQ(n, 20u);
    EXPECT_STREQ(value_text(va, scratch, &n), "ab");
    Value copy = value_copy(va);
    EXPECT_EQ(a->refs, 2);
    value_release(copy);
    value_release(va);
    value_release(vb);
}

TEST_F(BasicValues, ScopeGrowsAndKeepsEveryEntry) {
    Scope scope{};
    std::vector<Variable*> made;
    for (int i = 0; i < 300; i++) {
        std::string name = "v" + std::to_string(i);
        made.push_back(scope_insert(&scope, name.c_str(), name_hash(name.c_str()), false));
    }
    EXPECT_EQ(scope.entry_count, 300);
    EXPECT_EQ(scope.bucket_count, 256);  // 16, 64, 256
    for (int i = 0; i < 300; i++) {
        std::string name = "v" + std::to_string(i);
        EXPECT_EQ(scope_find(&scope, name.c_str(), name_hash(name.c_str())), made[i]);
    }
    EXPECT_EQ(scope_find(&scope, "v300", name_hash("v300")), nullptr);
    scope_free(&scope);
    EXPECT_EQ(name_hash(""), 2166136261u);
    EXPECT_EQ(name_hash("a"), 0xe40c292cu);
}
