// Names resolved once after parsing (parameter positions, the program's slots, LOCAL
// names), and the evaluator's direct paths for numbers: each must give what the general
// path gives, errors included.
#include "test_basic_support.h"

#include <cstring>

using namespace basic_test;

namespace {

class BasicResolve : public BasicTest {};

struct OutCase {
    const char* code;
    const char* output;
};

struct ErrorCase {
    const char* code;
    const char* message;
};

// The name node of the first statement of a list that is an assignment, its target.
const Expr* target_of(const StatementList& list, int32_t index) { return list.items[index]->expr[0]; }

const Procedure* procedure_named(const Program& p, const char* name) {
    for (const Procedure* q = p.procedures; q; q = q->next)
        if (std::strcmp(q->name, name) == 0) return q;
    return nullptr;
}

constexpr OutCase kScopeCases[] = {
    // A name used before the procedure's LOCAL statement is the global.
    {"SUB s\n x = 1\n LOCAL x\n x = 2\n PRINT x\nEND SUB\nx = 5: s: PRINT x", "2\n1\n"},
    // FOR over a parameter, over a LOCAL and over a global from a procedure.
    {"SUB f(n)\n FOR n = n TO 3: PRINT n;: NEXT\n PRINT\nEND SUB\nf 1", "123\n"},
    {"SUB f\n LOCAL i\n FOR i = 1 TO 2: PRINT i;: NEXT\nEND SUB\ni = 9: f: PRINT i", "129\n"},
    {"SUB f\n FOR k = 1 TO 2: NEXT\nEND SUB\nf: PRINT k", "3\n"},
    // A global made inside a procedure is the main program's.
    {"SUB mk\n g = 7\n h$ = \"x\"\nEND SUB\nmk: PRINT g; h$", "7x\n"},
    // A parameter turned into an array inside its procedure.
    {"SUB f(p)\n DIM p(2)\n p(1) = 4\n PRINT p(1) + p(0)\nEND SUB\nf 3: PRINT p", "4\n0\n"},
    // Recursion: each call reads its own parameter.
    {"FUNCTION t(n)\n IF n = 0 THEN RETURN 0\n RETURN n + t(n - 1)\nEND FUNCTION\nPRINT t(10)", "55\n"},
    // A variable of the name of a procedure defined later takes precedence as before.
    {"DIM q(2): q(1) = 5: PRINT q(1) * 2 - q(0)", "10\n"},
};

constexpr OutCase kNumberCases[] = {
    {"i = 6: PRINT i * 7 + 3; i MOD 4 = 2; (i \\ 4) XOR 3; 2 ^ i - 1", "45-1263\n"},
    {"DIM a(4): FOR i = 0 TO 4: a(i) = i * i: NEXT: PRINT a(1 + 2) + a(4); a(a(1)) < a(2)", "25-1\n"},
    {"a$ = \"x\": IF a$ = \"x\" AND 1 < 2 THEN PRINT \"y\"", "y\n"},
    {"x = -9223372036854775807 - 1: PRINT x \\ -1; x MOD -1", "-92233720368547758080\n"},
    {"FOR i = -3 TO 12 STEP 3\n SELECT CASE i\n CASE -3: PRINT \"a\";\n CASE 0 TO 3: PRINT \"b\";\n"
     " CASE IS >= 12: PRINT \"c\";\n CASE 5, 6, 7: PRINT \"d\";\n CASE ELSE: PRINT \"e\";\n END SELECT\nNEXT",
     "abbdec"},
    {"n = 3: SELECT CASE n * 2\n CASE n + 3: PRINT \"sum\"\n CASE ELSE: PRINT \"else\"\nEND SELECT", "sum\n"},
    {"j = 3: WHILE j >= 0: j = j - 1: WEND: PRINT j", "-1\n"},
    // Every comparison on less, equal and greater, with a literal and between leaves.
    {"FOR i = 1 TO 3: j = 2: PRINT i = 2; i <> 2; i < 2; i > 2; i <= 2; i >= 2; i = j; i < j; i >= j; \" \";: NEXT",
     "0-1-10-100-10 -1000-1-1-10-1 0-10-10-100-1 "},
    // The operators without routines of their own, nested and with leaves.
    {"a = 12: b = 5: PRINT a / b; a AND b; a OR b; (a XOR b) + 1; a SHL 2; a SHR b + 1; b ^ 3", "241310480125\n"},
    {"a = 6: PRINT -a * 2; NOT a + 1; -(a - 10); NOT (a = 6)", "-12-840\n"},
    // Stores: to a global, a parameter, a LOCAL, a new global, array elements.
    {"SUB f(p)\n p = p * 2: LOCAL q: q = p + 1: r = q * 10\n PRINT p; q\nEND SUB\nf 4: PRINT r; q", "89\n900\n"},
    {"DIM a(3): i = 1: a(i) = 5: a(i + 1) = a(i) * 2: a(3) = a(2) - a(i): PRINT a(1); a(2); a(3); a(0)", "51050\n"},
    {"SUB f\n LOCAL a(2)\n a(1) = 7: PRINT a(1) + 1\nEND SUB\nf", "8\n"},
    {"SUB f(a)\n DIM a(2): a(2) = 3: PRINT a(2) * a(1)\nEND SUB\nf 1", "0\n"},
    // An array of the name of a FUNCTION is what the name stands for once it exists.
    {"FUNCTION g(n)\n RETURN n + 1\nEND FUNCTION\nPRINT g(1);: DIM g(2): g(1) = 9: PRINT g(1)", "29\n"},
};

// Calls: the short paths must keep the general results.
constexpr OutCase kCallCases[] = {
    {"FUNCTION f(n)\nEND FUNCTION\nFUNCTION s$(n)\nEND FUNCTION\nPRINT f(1); \"[\"; s$(1); \"]\"", "0[]\n"},
    {"FUNCTION c$(a$, n)\n RETURN a$ + STR$(n)\nEND FUNCTION\nPRINT c$(\"x\", 2 * 3)", "x6\n"},
    {"FUNCTION l(n)\n LOCAL t\n t = n * 2\n RETURN t\nEND FUNCTION\nPRINT l(4) + l(5)", "18\n"},
    {"FUNCTION w(a$)\n RETURN LEN(a$)\nEND FUNCTION\nPRINT w(\"abc\") + w(\"\")", "3\n"},
    {"SUB s(n)\n IF n > 0 THEN PRINT n;: s n - 1\nEND SUB\ns 3", "321"},
    {"FUNCTION z\n RETURN 5\nEND FUNCTION\nPRINT z + z()", "10\n"},
    {"FUNCTION a(x, y)\n RETURN x - y\nEND FUNCTION\nPRINT a(a(9, 2), a(3, 1))", "5\n"},
};

// Bodies run in place: labels, EXIT and CONTINUE leave them as exec_list would.
constexpr OutCase kFlowCases[] = {
    {"FOR i = 1 TO 3\n IF i = 2 THEN GOTO skip\n PRINT i;\nskip:\nNEXT", "13"},
    {"FOR i = 1 TO 5\n IF i MOD 2 = 0 THEN CONTINUE FOR\n IF i = 5 THEN EXIT FOR\n PRINT i;\nNEXT\nPRINT i", "135\n"},
    {"j = 0: WHILE j < 4\n j = j + 1\n IF j = 2 THEN CONTINUE WHILE\n PRINT j;\nWEND", "134"},
    {"FUNCTION r$(s$, n)\n IF n = 0 THEN RETURN s$\n RETURN r$(s$ + CHR$(48 + n), n - 1)\nEND FUNCTION\n"
     "PRINT r$(\"x\", 3)",
     "x321\n"},
    {"FUNCTION k(n)\n IF n > 2 THEN\n  RETURN n\n ELSE\n  RETURN k(n + 1) * 10\n END IF\nEND FUNCTION\nPRINT k(1)",
     "300\n"},
};

// The shared empty and one-byte strings are never changed by appends.
constexpr OutCase kSmallStringCases[] = {
    {"a$ = CHR$(65): b$ = a$: a$ = a$ + \"B\": PRINT CHR$(65); b$; a$", "AAAB\n"},
    {"e$ = MID$(\"abc\", 9): f$ = e$: e$ = e$ + \"x\": PRINT \"[\"; f$; \"]\"; e$; LEN(\"\")", "[]x0\n"},
    {"FOR i = 1 TO 3: s$ = s$ + CHR$(96 + i): NEXT: PRINT s$; CHR$(97); LEN(CHR$(233)); ASC(CHR$(0))", "abca10\n"},
    {"DIM a$(300): FOR i = 0 TO 300: a$(i) = CHR$(66): NEXT: REDIM a$(1): PRINT a$(0); a$(1); CHR$(66); LEN(a$(1))",
     "BBB1\n"},
};

constexpr ErrorCase kErrorCases[] = {
    {"i = 0: PRINT 1 + 5 MOD i", "division by zero"},
    {"i = 0: IF 3 \\ i = 1 THEN PRINT 1", "division by zero"},
    {"i = -1: PRINT 2 ^ i + 1", "negative exponent"},
    {"DIM a(3): IF a(5) > 1 THEN PRINT 1", "index 5 out of range for a (0 to 3)"},
    {"DIM a(3): i = 2: x = a(i * 3) + 1", "index 6 out of range for a (0 to 3)"},
    {"DIM a(3): i = 0: x = a(4 \\ i)", "division by zero"},
    {"SELECT CASE 1\n CASE \"a\": PRINT 1\nEND SELECT", "CASE value type does not match SELECT"},
    {"SELECT CASE 1\n CASE 0 TO \"b\": PRINT 1\nEND SELECT", "CASE value type does not match SELECT"},
    {"SELECT CASE 1\n CASE IS > \"x\": PRINT 1\nEND SELECT", "CASE value type does not match SELECT"},
    {"SUB f\nEND SUB\nf = 1", "f is a function name and cannot be assigned"},
    {"len = 3", "len is a function name and cannot be assigned"},
    {"DIM a(2): a = 1", "a is an array: use a(index) = value"},
    {"x = \"s\"", "type mismatch: x is a numeric variable"},
    {"FUNCTION f(n)\n DIM n(1)\n RETURN n + 1\nEND FUNCTION\nPRINT f(1)", "n is an array: use n(index)"},
    {"SUB f\n FOR i = 1 TO 3: DIM i(2): NEXT\nEND SUB\nf", "i is an array"},
    {"DIM a(3): i = 4: a(i) = 1", "index 4 out of range for a (0 to 3)"},
    {"DIM a(3): i = 0: a(i - 1) = a(0)", "index -1 out of range for a (0 to 3)"},
    {"DIM a(3): i = 0: a(2 \\ i) = 1", "division by zero"},
    {"i = 1: b(i) = 2", "b is not an array (declare it with DIM)"},
    {"SUB f\n LOCAL a(1)\n a(2) = 1\nEND SUB\nf", "index 2 out of range for a (0 to 1)"},
    {"FUNCTION f(n)\n RETURN \"s\"\nEND FUNCTION\nx = f(1)", "FUNCTION f must return a number"},
    {"FUNCTION f$(n)\n RETURN n\nEND FUNCTION\nx$ = f$(1)", "FUNCTION f$ must return a string"},
    {"FUNCTION f(a$)\n RETURN 1\nEND FUNCTION\nx = f(2 + 3)", "f: parameter a$ expects a string"},
    {"FUNCTION f(n)\n RETURN n\nEND FUNCTION\nx = f(1 \\ 0)", "division by zero"},
    {"FUNCTION f(n)\n RETURN f(n + 1)\nEND FUNCTION\nx = f(1)", "too many nested calls (recursion limit 200)"},
    {"FUNCTION f(n, m)\n RETURN n\nEND FUNCTION\nx = f(1)", "f expects 2 arguments, 1 given"},
    {"i = 3: PRINT 7 MOD (i - 3)", "division by zero"},
    {"i = 2: j = -1: PRINT i SHL 1 ^ j", "negative exponent"},
    {"x = ARGC \\ 0", "division by zero"},
};

}  // namespace

TEST_F(BasicResolve, NodesLearnTheirScopeAndShareOneSlotPerName) {
    const std::string text =
        "x = 1: y = x\nFOR k = 1 TO 2: NEXT\n"
        "SUB s(a, b)\n LOCAL c\n a = b: c = x: FOR b = 1 TO 2: NEXT\nEND SUB\n";
    Program p;
    ASSERT_TRUE(parse_program(text.data(), text.size(), &p)) << p.message;
    EXPECT_EQ(p.slot_count, 6);  // x y k a b c
    EXPECT_EQ(p.bound_engine, 0u);
    const Expr* x = target_of(p.main, 0);
    EXPECT_EQ(x->scope, kScopeGlobal);
    EXPECT_EQ(p.main.items[1]->expr[1]->slot, x->slot);
    EXPECT_EQ(p.main.items[2]->scope, kScopeGlobal);
    EXPECT_STREQ(p.main.items[2]->slot->name, "k");
    const Procedure* s = procedure_named(p, "s");
    ASSERT_NE(s, nullptr);
    const StatementList& body = s->body;  // LOCAL c, a = b, c = x, FOR b
    ASSERT_EQ(body.count, 4);
    EXPECT_EQ(body.items[0]->args[0]->scope, kScopeLocal);
    const Expr* a = target_of(body, 1);
    EXPECT_EQ(a->scope, kScopeParameter);
    EXPECT_EQ(a->param_index, 0);
    EXPECT_EQ(body.items[1]->expr[1]->param_index, 1);
    EXPECT_EQ(target_of(body, 2)->scope, kScopeLocal);
    EXPECT_EQ(body.items[2]->expr[1]->scope, kScopeGlobal);
    EXPECT_EQ(body.items[2]->expr[1]->slot, x->slot);
    EXPECT_EQ(body.items[3]->scope, kScopeParameter);
    EXPECT_EQ(body.items[3]->param_index, 1);
    free_program(&p);
}

TEST_F(BasicResolve, ScopesBehaveAsNamesSearchedAtRunTime) {
    for (const OutCase& c : kScopeCases) EXPECT_EQ(out(c.code), c.output) << c.code;
}

TEST_F(BasicResolve, DirectNumberPathsGiveTheGeneralResults) {
    for (const OutCase& c : kNumberCases) EXPECT_EQ(out(c.code), c.output) << c.code;
}

TEST_F(BasicResolve, CallsAndSmallStringsGiveTheGeneralResults) {
    for (const OutCase& c : kCallCases) EXPECT_EQ(out(c.code), c.output) << c.code;
    for (const OutCase& c : kSmallStringCases) EXPECT_EQ(out(c.code), c.output) << c.code;
    for (const OutCase& c : kFlowCases) EXPECT_EQ(out(c.code), c.output) << c.code;
}

// Every operator in each shape its routines tell apart (two leaves, a leaf and a literal,
// nested operands, a literal and a leaf, a single-line IF on a leaf and a literal) against
// the general path, which a call forces (VAL(STR$(a)) makes the node no numeric
// expression): values, flags and errors alike.
TEST_F(BasicResolve, EveryOperatorAgreesWithTheGeneralPathInEveryShape) {
    const char* const operators[] = {"+", "-", "*", "/", "\\", "MOD", "^", "=", "<>", "<", ">", "<=", ">=",
                                     "AND", "OR", "XOR", "SHL", "SHR"};
    struct Pair {
        const char* a;
        const char* b;  // not negative: it also stands as a literal
    };
    const Pair pairs[] = {{"7", "3"}, {"-7", "2"}, {"5", "0"}, {"-9223372036854775807 - 1", "1"}, {"3", "64"},
                          {"2", "62"}, {"6", "6"}};
    auto outcome = [&](const std::string& code) {
        RunResult r = run(code);
        return std::to_string(r.code) + "|" + r.out + "|" + r.errors;
    };
    for (const char* op : operators) {
        for (const Pair& p : pairs) {
            std::string setup = std::string("a = ") + p.a + ": b = " + p.b + ": ";
            std::string o = std::string(" ") + op + " ";
            const std::string general = "VAL(STR$(a))";
            const struct {
                std::string shape, reference;
            } checks[] = {
                {"x = a" + o + "b", "x = " + general + o + "b"},
                {"x = a" + o + p.b, "x = " + general + o + p.b},
                {"x = (a + 0)" + o + "(b * 1)", "x = " + general + o + "b"},
                {"x = " + std::string(p.b) + o + "a", "x = " + std::string(p.b) + o + general},
                {"t = 0: IF a" + o + p.b + " THEN t = 1", "t = 0: IF " + general + o + p.b + " THEN t = 1"},
            };
            for (const auto& c : checks)
                EXPECT_EQ(outcome(setup + c.shape + "\nPRINT x; t"), outcome(setup + c.reference + "\nPRINT x; t"))
                    << setup << c.shape;
        }
    }
}

TEST_F(BasicResolve, DirectPathsReportTheGeneralErrors) {
    for (const ErrorCase& c : kErrorCases) EXPECT_EQ(error(c.code), c.message) << c.code;
}

// One parsed program run by two engines, and again by the first: each engine sees only
// its own globals, found again after the program ran in the other one.
TEST_F(BasicResolve, AProgramRebindsToEachEngine) {
    const std::string text = "PRINT n: n = n + 1";
    Program p;
    ASSERT_TRUE(parse_program(text.data(), text.size(), &p));
    ScriptEngine* first = engine_create(0, nullptr, false);
    ScriptEngine* second = engine_create(0, nullptr, false);
    std::string output;
    for (ScriptEngine* e : {first, first, second, first}) {
        StringBuffer buffer;
        ASSERT_EQ(push_capture(&buffer), 0);
        EXPECT_EQ(engine_run(e, &p, nullptr), 0);
        EXPECT_EQ(pop_redirection(), 0);
        output += buffer.c_str();
    }
    EXPECT_EQ(output, "0\n1\n0\n2\n");
    engine_destroy(first);
    engine_destroy(second);
    free_program(&p);
}

// At the prompt a procedure kept from an earlier text finds globals made later, and an
// assignment refuses a name that became a procedure's after the variable existed.
TEST_F(BasicResolve, PromptTextsShareTheGlobals) {
    Prompt prompt;
    std::string output;
    EXPECT_EQ(prompt.type("SUB show\n PRINT z; w$\nEND SUB", &output), 0);
    EXPECT_EQ(prompt.type("show", &output), 0);
    EXPECT_EQ(prompt.type("z = 4: w$ = \"w\"", &output), 0);
    EXPECT_EQ(prompt.type("show", &output), 0);
    EXPECT_EQ(prompt.type("v = 1", &output), 0);
    EXPECT_EQ(prompt.type("SUB v\nEND SUB", &output), 0);
    EXPECT_EQ(prompt.type("v = 2", &output), 1);
    EXPECT_EQ(output, "0\n4w\n");
    EXPECT_NE(error_text().find("v is a function name and cannot be assigned"), std::string::npos);
    // A kept procedure that stored into u before u became a procedure's name is refused too.
    EXPECT_EQ(prompt.type("SUB setu\n u = 5\nEND SUB", &output), 0);
    EXPECT_EQ(prompt.type("setu: PRINT u", &output), 0);
    EXPECT_EQ(prompt.type("SUB u\nEND SUB", &output), 0);
    EXPECT_EQ(prompt.type("setu", &output), 1);
    EXPECT_EQ(output, "0\n4w\n5\n");
    EXPECT_NE(error_text().find("u is a function name and cannot be assigned"), std::string::npos);
}

TEST_F(BasicResolve, EmptyWhileStillStopsOnCtrlC) {
    fw.push_key(3);
    RunResult r = run("WHILE 1: WEND");
    EXPECT_EQ(r.code, 130);
    EXPECT_EQ(r.errors, "error: interrupted (Ctrl-C)\n");
}
