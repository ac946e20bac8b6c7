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
}

TEST_F(BasicResolve, EmptyWhileStillStopsOnCtrlC) {
    fw.push_key(3);
    RunResult r = run("WHILE 1: WEND");
    EXPECT_EQ(r.code, 130);
    EXPECT_EQ(r.errors, "error: interrupted (Ctrl-C)\n");
}
