// The BASIC statement executor: PRINT, loops, SELECT, GOTO, procedures, errors and exit
// codes, the prompt's engine, and the built-in function call path.
#include "test_basic_support.h"

using namespace basic_test;

namespace {

class BasicInterpreter : public BasicTest {};

std::string fib_program(int depth) {
    return "FUNCTION down(n)\n IF n = 0 THEN RETURN 0\n RETURN down(n - 1) + 1\nEND FUNCTION\nPRINT down(" +
           std::to_string(depth) + ")\n";
}

}  // namespace

TEST_F(BasicInterpreter, PrintSeparatorsAndZones) {
    EXPECT_EQ(out("PRINT \"a\", \"b\""), "a" + std::string(13, ' ') + "b\n");
    EXPECT_EQ(out("PRINT 1; 2"), "12\n");
    EXPECT_EQ(out("PRINT \"x\";"), "x");
    // The column is shared by all engines: this run starts at column 1.
    EXPECT_EQ(out("PRINT \"x\","), "x" + std::string(12, ' '));
    EXPECT_EQ(out("PRINT"), "\n");
    EXPECT_EQ(out("PRINT \"12345678901234\", 1"), "12345678901234" + std::string(14, ' ') + "1\n");
    // Zones count characters, not bytes, and restart after a line feed.
    EXPECT_EQ(out("PRINT \"h\xc3\xa9\", 1"), "h\xc3\xa9" + std::string(12, ' ') + "1\n");
    EXPECT_EQ(out("PRINT \"ab\";: PRINT \"c\", 1"), "abc" + std::string(11, ' ') + "1\n");
    EXPECT_EQ(out("PRINT \"a\" + CHR$(10) + \"b\", 1"), "a\nb" + std::string(13, ' ') + "1\n");
}

TEST_F(BasicInterpreter, ForLoops) {
    EXPECT_EQ(out("FOR i = 1 TO 3: NEXT: PRINT i"), "4\n");
    EXPECT_EQ(out("FOR i = 3 TO 1: PRINT \"never\": NEXT: PRINT i"), "3\n");
    EXPECT_EQ(out("FOR i = 10 TO 1 STEP -4: PRINT i;: NEXT: PRINT: PRINT i"), "1062\n-2\n");
    EXPECT_EQ(error("FOR i = 1 TO 5 STEP 0: NEXT"), "FOR with STEP 0");
    EXPECT_EQ(out("n = 0: FOR i = 9223372036854775806 TO 9223372036854775807: n = n + 1: NEXT: PRINT n; i"),
              "29223372036854775807\n");
    EXPECT_EQ(out("n = 0: FOR i = -9223372036854775807 TO -9223372036854775808 STEP -1: n = n + 1: NEXT: PRINT n; i"),
              "2-9223372036854775808\n");
    // Limit and step are evaluated once; the body may change the variable.
    EXPECT_EQ(out("b = 3: FOR i = 1 TO b: b = 10: PRINT i;: NEXT: PRINT"), "123\n");
    EXPECT_EQ(out("FOR i = 1 TO 10: PRINT i;: i = i + 4: NEXT: PRINT"), "16\n");
    EXPECT_EQ(error("FOR len = 1 TO 2: NEXT"), "len is the name of a built-in function");
    EXPECT_EQ(error("DIM a(2): FOR a = 1 TO 2: NEXT"), "a is an array");
    EXPECT_EQ(out("FOR i = 1 TO 5: IF i = 2 THEN CONTINUE FOR\nIF i = 4 THEN EXIT FOR\nPRINT i;: NEXT: PRINT: PRINT i"),
              "13\n4\n");
}

TEST_F(BasicInterpreter, WhileAndDoLoops) {
    EXPECT_EQ(out("i = 0: WHILE i < 3: i = i + 1: WEND: PRINT i"), "3\n");
    EXPECT_EQ(out("i = 0\nWHILE i < 3\n i = i + 1\nEND WHILE\nPRINT i"), "3\n");
    EXPECT_EQ(out("i = 0: DO WHILE i < 3: i = i + 1: LOOP: PRINT i"), "3\n");
    EXPECT_EQ(out("i = 0: DO UNTIL i = 3: i = i + 1: LOOP: PRINT i"), "3\n");
    EXPECT_EQ(out("i = 5: DO: i = i + 1: LOOP WHILE i < 3: PRINT i"), "6\n");
    EXPECT_EQ(out("i = 0: DO: i = i + 1: LOOP UNTIL i >= 3: PRINT i"), "3\n");
    EXPECT_EQ(out("i = 0: DO: i = i + 1: IF i = 7 THEN EXIT DO\nLOOP: PRINT i"), "7\n");
    // CONTINUE DO still tests the LOOP condition.
    EXPECT_EQ(out("i = 0: DO: i = i + 1: IF i < 10 THEN CONTINUE DO\nPRINT \"x\": LOOP UNTIL i >= 3: PRINT i"),
              "3\n");
    // EXIT travels through other kinds of blocks to its loop.
    EXPECT_EQ(out("FOR i = 1 TO 3\n j = 0\n WHILE j < 5\n  j = j + 1\n  IF j = 2 THEN EXIT FOR\n WEND\nNEXT\nPRINT i; j"),
              "12\n");
    EXPECT_EQ(out("FOR i = 1 TO 3\n DO\n  CONTINUE FOR\n LOOP\nNEXT\nPRINT i"), "4\n");
}

TEST_F(BasicInterpreter, SelectCase) {
    std::string code =
        "SUB t(x)\n SELECT CASE x\n  CASE 1, 2: PRINT \"small\"\n  CASE 3 TO 5: PRINT \"mid\"\n"
        "  CASE IS >= 100: PRINT \"big\"\n  CASE IS < 0: PRINT \"neg\"\n  CASE ELSE: PRINT \"other\"\n END SELECT\nEND SUB\n"
        "t 2: t 5: t 6: t 100: t -1\n";
    EXPECT_EQ(out(code), "small\nmid\nother\nbig\nneg\n");
    EXPECT_EQ(out("SELECT CASE \"b\"\nCASE \"a\" TO \"c\": PRINT 1\nCASE ELSE: PRINT 2\nEND SELECT"), "1\n");
    EXPECT_EQ(out("SELECT CASE 9\nCASE 1\nPRINT 1\nEND SELECT\nPRINT \"after\""), "after\n");
    EXPECT_EQ(out("SELECT CASE 5\nCASE IS >= 5: PRINT \"hit\"\nEND SELECT"), "hit\n");
    EXPECT_EQ(out("SELECT CASE 5\nCASE IS <> 5: PRINT 1\nCASE IS <= 4: PRINT 2\nCASE IS > 4: PRINT 3\nEND SELECT"),
              "3\n");
    EXPECT_EQ(error("SELECT CASE 5\nCASE \"5\": PRINT 1\nEND SELECT"), "CASE value type does not match SELECT");
    EXPECT_EQ(error("SELECT CASE 5\nCASE 1 TO \"9\": PRINT 1\nEND SELECT"), "CASE value type does not match SELECT");
    // Items are tried one by one; matching stops at the first hit (the bad item is never evaluated).
    EXPECT_EQ(out("SELECT CASE 1\nCASE 1, \"x\": PRINT \"ok\"\nEND SELECT"), "ok\n");
    // The selector is evaluated once.
    EXPECT_EQ(out("FUNCTION f\n PRINT \"f\";\n RETURN 3\nEND FUNCTION\nSELECT CASE f\nCASE 1\nCASE 2\nCASE 3: PRINT \"3\"\nEND SELECT"),
              "f3\n");
}

TEST_F(BasicInterpreter, Goto) {
    EXPECT_EQ(out("i = 0\nagain:\ni = i + 1\nIF i < 3 THEN GOTO again\nPRINT i"), "3\n");
    EXPECT_EQ(out("FOR i = 1 TO 10\n IF i = 2 THEN GOTO out\nNEXT\nPRINT \"no\"\nout:\nPRINT i"), "2\n");
    EXPECT_EQ(out("WHILE 1\n DO\n  GOTO done\n LOOP\nWEND\ndone:\nPRINT \"done\""), "done\n");
    EXPECT_EQ(error("GOTO inside\nIF 1 THEN\ninside:\nEND IF"), "label inside not found");
    EXPECT_EQ(error("GOTO nowhere"), "label nowhere not found");
    EXPECT_EQ(error("SUB s\n GOTO top\nEND SUB\ntop:\ns"), "label top not found in s");
    EXPECT_EQ(out("SUB s\n GOTO skip\n PRINT \"no\"\nskip:\n PRINT \"yes\"\nEND SUB\ns"), "yes\n");
    // A label at the end of a list ends that list.
    EXPECT_EQ(out("GOTO finish\nPRINT 1\nfinish:\n"), "");
}

TEST_F(BasicInterpreter, ExitAndReturnOutsideTheirBlocks) {
    EXPECT_EQ(error("EXIT FOR"), "EXIT/CONTINUE outside of a loop");
    EXPECT_EQ(error("WHILE 1\n EXIT DO\nWEND"), "EXIT/CONTINUE outside of a loop");
    EXPECT_EQ(error("CONTINUE WHILE"), "EXIT/CONTINUE outside of a loop");
    EXPECT_EQ(error("SUB s\n EXIT FOR\nEND SUB\ns"), "EXIT/CONTINUE outside of a loop in s");
    EXPECT_EQ(error("RETURN"), "RETURN outside of SUB or FUNCTION");
    EXPECT_EQ(error("RETURN 5"), "RETURN outside of SUB or FUNCTION");
    EXPECT_EQ(error("SUB s\n RETURN 5\nEND SUB\ns"), "a SUB cannot return a value");
}

TEST_F(BasicInterpreter, Procedures) {
    EXPECT_EQ(out("PRINT twice(4)\nFUNCTION twice(n)\n RETURN n * 2\nEND FUNCTION"), "8\n");
    EXPECT_EQ(out("FUNCTION f\nEND FUNCTION\nFUNCTION g$\nEND FUNCTION\nPRINT f; \"[\" + g$ + \"]\""), "0[]\n");
    EXPECT_EQ(out("FUNCTION f\n EXIT FUNCTION\n RETURN 4\nEND FUNCTION\nPRINT f()"), "0\n");
    EXPECT_EQ(out("SUB greet(name$, n)\n PRINT name$; n\nEND SUB\ngreet \"a\", 1\nCALL greet(\"b\", 2)\nCALL greet \"c\", 3"),
              "a1\nb2\nc3\n");
    EXPECT_EQ(error("SUB s(a)\nEND SUB\ns"), "s expects 1 argument, 0 given");
    EXPECT_EQ(error("FUNCTION f(a, b)\nEND FUNCTION\nPRINT f(1)"), "f expects 2 arguments, 1 given");
    EXPECT_EQ(error("SUB s(a$)\nEND SUB\ns 1"), "s: parameter a$ expects a string");
    EXPECT_EQ(error("SUB s(a)\nEND SUB\ns \"x\""), "s: parameter a expects a number");
    EXPECT_EQ(error("FUNCTION f$\n RETURN 1\nEND FUNCTION\nPRINT f$"), "FUNCTION f$ must return a string");
    EXPECT_EQ(error("FUNCTION f\n RETURN \"x\"\nEND FUNCTION\nx = f()"), "FUNCTION f must return a number");
    EXPECT_EQ(error("SUB s\nEND SUB\nx = s(1)"), "s is a SUB and has no value (use it as a statement)");
    EXPECT_EQ(out("SUB s\nEND SUB\nPRINT s"), "0\n");  // a bare SUB name reads as its default
    EXPECT_EQ(error("x = 1\nx"), "x is a variable: did you mean to assign it (x = ...)?");
    EXPECT_EQ(error("frob 1"), "unknown statement or SUB: frob (to run a shell command use RUN \"frob ...\")");
    EXPECT_EQ(error("frob"), "unknown statement or SUB: frob (to run a shell command use RUN \"frob ...\")");
    EXPECT_EQ(error("SUB len\nEND SUB"), "len is a built-in function and cannot be redefined");
    EXPECT_EQ(error("SUB s(str$)\nEND SUB"), "parameter str$ of s has the name of a built-in function");
}

TEST_F(BasicInterpreter, RegistrationFailsBeforeAnyStatement) {
    RunResult r = run("PRINT \"ran\"\nSUB len\nEND SUB");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errors, "line 2: error: len is a built-in function and cannot be redefined\n");
}

TEST_F(BasicInterpreter, RecursionLimit) {
    EXPECT_EQ(out(fib_program(199)), "199\n");  // 200 active calls
    EXPECT_EQ(error(fib_program(200)), "too many nested calls (recursion limit 200)");
    EXPECT_EQ(out("FUNCTION fib(n)\n IF n < 2 THEN RETURN n\n RETURN fib(n - 1) + fib(n - 2)\nEND FUNCTION\nPRINT fib(15)"),
              "610\n");
}

TEST_F(BasicInterpreter, DeepRecursionIsStoppedByTheStackBudget) {
    uint64_t old = set_stack_budget(16 * 1024);
    std::string message = error(fib_program(150));
    set_stack_budget(old);
    EXPECT_EQ(message, "nesting too deep: out of stack space");
    // The engine still works afterwards.
    EXPECT_EQ(out(fib_program(20)), "20\n");
}

TEST_F(BasicInterpreter, EndAndExitCodes) {
    EXPECT_EQ(run("END 7").code, 7);
    EXPECT_EQ(run("PRINT 1: END: PRINT 2").out, "1\n");
    EXPECT_EQ(run("EXIT 3").code, 3);
    EXPECT_EQ(run("END 4294967297").code, 1);  // truncated to 32 bits
    EXPECT_EQ(run("END -1").code, -1);
    EXPECT_EQ(run("x = 1 / 0").code, 1);
    RunResult r = run("SUB s\n PRINT \"in\"\n END 5\n PRINT \"no\"\nEND SUB\ns\nPRINT \"no\"");
    EXPECT_EQ(r.code, 5);
    EXPECT_EQ(r.out, "in\n");
    r = run("FUNCTION f\n END 6\nEND FUNCTION\nx = f + 1\nPRINT \"no\"");
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errors, "");
}

TEST_F(BasicInterpreter, ErrorFormats) {
    RunResult r = run("PRINT 1 / 0");
    EXPECT_EQ(r.errors, "error: division by zero\n");
    r = run("x = 1\n\nPRINT 1 / 0");
    EXPECT_EQ(r.errors, "line 3: error: division by zero\n");
    r = run("x = 1\nx = 2\nx = 3\nx = 4\nPRINT 1 / 0", {}, "fs0:\\t.tsb");
    EXPECT_EQ(r.errors, "fs0:\\t.tsb:5: error: division by zero\n");
    r = run("PRINT 1 / 0", {}, "fs0:\\t.tsb");
    EXPECT_EQ(r.errors, "fs0:\\t.tsb:1: error: division by zero\n");
    // The first error wins and the message is cut at 255 characters.
    r = run("frob" + std::string(300, 'x'));
    EXPECT_EQ(r.errors.size(), std::string("error: ").size() + 255 + 1);
}

TEST_F(BasicInterpreter, CtrlCStopsWithCode130) {
    fw.push_key(3);
    RunResult r = run("DO\nLOOP");
    EXPECT_EQ(r.code, 130);
    EXPECT_EQ(r.errors, "error: interrupted (Ctrl-C)\n");
    EXPECT_FALSE(poll_break());
}

TEST_F(BasicInterpreter, ScriptArguments) {
    RunResult r = run("PRINT ARGC; ARG$(0); ARG$(1); ARG$(2); \"[\" + ARG$(3) + \"]\"; \"[\" + ARG$(-1) + \"]\"",
                      {"one", "two"}, "fs0:\\s.tsb");
    EXPECT_EQ(r.out, "2fs0:\\s.tsbonetwo[][]\n");
}

TEST_F(BasicInterpreter, BuiltinCallChecks) {
    EXPECT_EQ(error("PRINT LEN(1)"), "len: argument 1 must be a string");
    EXPECT_EQ(error("PRINT LEFT$(\"a\")"), "left$ expects 2 arguments");
    EXPECT_EQ(error("PRINT MID$(\"a\")"), "mid$ expects 2 to 3 arguments");
    EXPECT_EQ(error("PRINT CHR$(\"a\")"), "chr$: argument 1 must be a number");
    EXPECT_EQ(error("PRINT MID$(\"abc\", 1, \"x\")"), "mid$: argument 3 must be a number");
    EXPECT_EQ(error("PRINT ERR(1)"), "err expects 0 arguments");
    EXPECT_EQ(error("PRINT ASC(\"a\", \"b\")"), "asc expects 1 argument");
    EXPECT_EQ(error("x$ = RUN$(\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\")"),
              "run$ expects 1 to 16 arguments");
    EXPECT_EQ(out("PRINT LEN(\"h\xc3\xa9llo\"); LEFT$(\"h\xc3\xa9llo\", 2); MID$(\"abc\", 5); \"|\"; RIGHT$(\"abc\", 2)"),
              "5h\xc3\xa9|bc\n");
    EXPECT_EQ(error("PRINT MID$(\"abc\", 0)"), "MID$: start position must be 1 or more");
    EXPECT_EQ(out("PRINT VAL(\"12abc\"); VAL(\"  -&H10\"); VAL(\"x\"); VAL(\"3.7\")"), "12-1603\n");
    EXPECT_EQ(out("PRINT STR$(-5) + CHR$(65) + STR$(ASC(\"\xc3\xa9\"))"), "-5A233\n");
    EXPECT_EQ(error("PRINT UBOUND(x)"), "x is not an array (declare it with DIM)");
    EXPECT_EQ(error("DIM a(2): PRINT UBOUND(a(1))"), "array name expected");
    EXPECT_EQ(out("DIM a(2): PRINT UBOUND(a())"), "2\n");
    // Functions without arguments read like variables; as statements results are dropped.
    EXPECT_EQ(out("PRINT ERR: LEN \"abc\""), "0\n");
}

TEST_F(BasicInterpreter, ConsoleStatements) {
    EXPECT_EQ(error("COLOR 16"), "COLOR: foreground 0-15, background 0-7");
    EXPECT_EQ(error("COLOR 1, 8"), "COLOR: foreground 0-15, background 0-7");
    EXPECT_EQ(error("COLOR -1"), "COLOR: foreground 0-15, background 0-7");
    EXPECT_EQ(out("COLOR 2, 1: COLOR: LOCATE 0, 5: CLS"), "");
    uint64_t before = fw.now_us();
    EXPECT_EQ(out("SLEEP 100"), "");
    EXPECT_GE(fw.now_us() - before, 100000u);
    EXPECT_EQ(out("SLEEP -5"), "");
}

TEST_F(BasicInterpreter, SleepIsInterruptible) {
    fw.push_key(3, 0, 0, 50000);
    RunResult r = run("SLEEP 100000");
    EXPECT_EQ(r.code, 130);
    EXPECT_EQ(r.errors, "error: interrupted (Ctrl-C)\n");
}

TEST_F(BasicInterpreter, PauseWaitsForAKey) {
    fw.push_key(u'x');
    EXPECT_EQ(run("PAUSE \"go\": PRINT \"after\"").out, "after\n");
    fw.push_key(0, 0x17);  // Esc: the script simply continues
    EXPECT_EQ(run("PAUSE: PRINT \"after\"").out, "after\n");
    fw.push_key(3);
    RunResult r = run("PAUSE 5: PRINT \"no\"");
    EXPECT_EQ(r.code, 130);
    EXPECT_EQ(r.out, "");
}

TEST_F(BasicInterpreter, InputReadsLines) {
    fw.push_text("abc\r&HFF\r");
    RunResult r = run("INPUT \"n\"; n: PRINT n + 1");
    EXPECT_EQ(r.out, "please enter a number\n256\n");
    fw.push_text("  two words \r");
    r = run("INPUT a$: PRINT \"[\" + a$ + \"]\"");
    EXPECT_EQ(r.out, "[  two words ]\n");
    fw.push_text("7\r");
    r = run("DIM a(3): INPUT 5; a(2): PRINT a(2)");
    EXPECT_EQ(r.out, "7\n");
    fw.push_key(3);
    r = run("INPUT x");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "error: input cancelled\n");
}

TEST_F(BasicInterpreter, PromptEngineKeepsStateAndReplacesProcedures) {
    Prompt prompt;
    std::string output;
    EXPECT_EQ(prompt.type("x = 5"), 0);
    EXPECT_EQ(prompt.type("SUB show\n PRINT \"one\"; x\nEND SUB"), 0);
    EXPECT_EQ(prompt.type("show", &output), 0);
    EXPECT_EQ(prompt.type("SUB show\n PRINT \"two\"; x\nEND SUB"), 0);
    EXPECT_EQ(prompt.type("show", &output), 0);
    EXPECT_EQ(output, "one5\ntwo5\n");
    // An error only abandons the line.
    EXPECT_EQ(prompt.type("PRINT 1 / 0"), 1);
    output.clear();
    EXPECT_EQ(prompt.type("PRINT x", &output), 0);
    EXPECT_EQ(output, "5\n");
    EXPECT_EQ(prompt.type("FOR i = 1 TO 3"), -2);
    output.clear();
    EXPECT_EQ(prompt.type("FOR i = 1 TO 3\nPRINT i;\nNEXT", &output), 0);
    EXPECT_EQ(output, "123");
    EXPECT_EQ(prompt.type("END 4"), 4);
    int32_t code = 0;
    EXPECT_TRUE(ended(prompt.engine(), &code));
    EXPECT_EQ(code, 4);
    EXPECT_EQ(prompt.type("PRINT"), 0);
    EXPECT_FALSE(ended(prompt.engine(), &code));
    set_err(prompt.engine(), 127);
    output.clear();
    EXPECT_EQ(prompt.type("PRINT ERR", &output), 0);
    EXPECT_EQ(output, "127\n");
    EXPECT_EQ(get_err(prompt.engine()), 127);
}

TEST_F(BasicInterpreter, PromptErrorFormats) {
    Prompt prompt;
    size_t before = error_text().size();
    EXPECT_EQ(prompt.type("x = )"), 1);
    EXPECT_EQ(prompt.type("x = 1\ny = )"), 1);
    EXPECT_EQ(prompt.type("x = 1\nPRINT 1 / 0"), 1);
    EXPECT_EQ(prompt.type("PRINT 1 / 0"), 1);
    EXPECT_EQ(error_text().substr(before),
              "syntax error: expected an expression, found ')'\n"
              "line 2: syntax error: expected an expression, found ')'\n"
              "line 2: error: division by zero\n"
              "error: division by zero\n");
}

TEST_F(BasicInterpreter, PromptProcedureDefinitionFailureKeepsOldOne) {
    Prompt prompt;
    std::string output;
    EXPECT_EQ(prompt.type("SUB s\n PRINT \"old\"\nEND SUB"), 0);
    EXPECT_EQ(prompt.type("SUB s\n PRINT \"new\"\nEND SUB\nSUB len\nEND SUB"), 1);
    EXPECT_EQ(prompt.type("s", &output), 0);
    EXPECT_EQ(output, "old\n");
}

TEST_F(BasicInterpreter, IsBasicLine) {
    Prompt prompt;
    EXPECT_TRUE(prompt.is_basic("x = 5"));
    EXPECT_FALSE(prompt.is_basic("ls"));
    EXPECT_FALSE(prompt.is_basic("ls -l fs0:\\efi"));
    EXPECT_TRUE(prompt.is_basic("a(1) = 2"));
    EXPECT_TRUE(prompt.is_basic("a(f(\")\"), 2) = 2"));
    EXPECT_FALSE(prompt.is_basic("a(1) == 2"));
    EXPECT_FALSE(prompt.is_basic("a(1)"));
    EXPECT_FALSE(prompt.is_basic("a(1"));
    EXPECT_FALSE(prompt.is_basic("exit"));
    EXPECT_FALSE(prompt.is_basic("exit 3"));
    EXPECT_FALSE(prompt.is_basic("EXIT /b"));
    EXPECT_TRUE(prompt.is_basic("EXIT FOR"));
    EXPECT_TRUE(prompt.is_basic("exit sub"));
    EXPECT_TRUE(prompt.is_basic("cls"));
    EXPECT_TRUE(prompt.is_basic("sleep 500"));
    EXPECT_TRUE(prompt.is_basic("pause"));
    EXPECT_TRUE(prompt.is_basic("PRINT 1"));
    EXPECT_FALSE(prompt.is_basic("then"));
    EXPECT_FALSE(prompt.is_basic("fs0:"));
    EXPECT_FALSE(prompt.is_basic(".\\tool.efi"));
    EXPECT_FALSE(prompt.is_basic(""));
    EXPECT_FALSE(prompt.is_basic("greet \"x\""));
    EXPECT_EQ(prompt.type("SUB greet(n$)\n PRINT n$\nEND SUB"), 0);
    EXPECT_TRUE(prompt.is_basic("greet \"x\""));
    EXPECT_TRUE(prompt.is_basic("GREET(\"x\")"));
    EXPECT_EQ(prompt.type("DIM arr(3)"), 0);
    EXPECT_TRUE(prompt.is_basic("arr(1)"));
}

TEST_F(BasicInterpreter, NothingLeaksAfterErrorsInsideCalls) {
    // Errors deep inside calls with string locals and arrays unwind every frame.
    RunResult r = run("SUB s(a$, n)\n LOCAL t$(3)\n t$(1) = a$ + \"x\"\n IF n = 0 THEN PRINT 1 / n\n s a$ + \"y\", n - 1\nEND SUB\ns \"q\", 5");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "line 4: error: division by zero\n");
}
