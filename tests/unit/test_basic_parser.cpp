// The BASIC parser: program structure, limits and every syntax message.
#include "test_basic_support.h"

using namespace basic_test;

namespace {

class BasicParser : public BasicTest {};

std::string nested(const std::string& open, const std::string& close, int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += open + "\n";
    for (int i = 0; i < n; i++) s += close + "\n";
    return s;
}

}  // namespace

TEST_F(BasicParser, ProgramShape) {
    Program p;
    std::string text = "x = 1\nstart:\nFOR i = 1 TO 3: PRINT i: NEXT\nSUB s(a, B$)\nEND SUB\nFUNCTION f$\nEND FUNCTION\n";
    ASSERT_TRUE(parse_program(text.data(), text.size(), &p)) << p.message;
    ASSERT_EQ(p.main.count, 2);  // the definitions leave no statement
    EXPECT_EQ(p.main.items[0]->kind, kStmtAssign);
    EXPECT_EQ(p.main.items[1]->kind, kStmtFor);
    EXPECT_EQ(p.main.items[1]->line, 3);
    EXPECT_EQ(p.main.items[1]->body.count, 1);
    ASSERT_EQ(p.main.label_count, 1);
    EXPECT_STREQ(p.main.labels[0].name, "start");
    EXPECT_EQ(p.main.labels[0].index, 1);
    ASSERT_NE(p.procedures, nullptr);
    EXPECT_STREQ(p.procedures->name, "f$");  // newest first
    EXPECT_TRUE(p.procedures->is_function);
    ASSERT_NE(p.procedures->next, nullptr);
    EXPECT_STREQ(p.procedures->next->name, "s");
    EXPECT_EQ(p.procedures->next->param_count, 2);
    EXPECT_STREQ(p.procedures->next->params[1], "b$");
    EXPECT_EQ(p.procedures->next->line, 4);
    free_program(&p);
}

TEST_F(BasicParser, PrecedenceShapes) {
    Program p;
    std::string text = "x = -2 ^ 2\ny = a OR b AND c\nz = NOT a = b\nw = 2 ^ 3 ^ 2\n";
    ASSERT_TRUE(parse_program(text.data(), text.size(), &p));
    const Expr* e = p.main.items[0]->expr[1];
    EXPECT_EQ(e->kind, kExprUnary);  // -(2^2)
    EXPECT_EQ(e->left->op, kTokCaret);
    e = p.main.items[1]->expr[1];
    EXPECT_EQ(e->op, kTokOr);
    EXPECT_EQ(e->right->op, kTokAnd);
    e = p.main.items[2]->expr[1];
    EXPECT_EQ(e->kind, kExprUnary);
    EXPECT_EQ(e->op, kTokNot);
    EXPECT_EQ(e->left->op, kTokEq);
    e = p.main.items[3]->expr[1];
    EXPECT_EQ(e->op, kTokCaret);
    EXPECT_EQ(e->left->number, 2);
    EXPECT_EQ(e->right->op, kTokCaret);  // 2^(3^2)
    free_program(&p);
}

TEST_F(BasicParser, SingleLineAndBlockIf) {
    Program p;
    std::string text = "IF x THEN PRINT 1 ELSE PRINT 2\nIF x THEN ' comment\nPRINT 3\nEND IF\n";
    ASSERT_TRUE(parse_program(text.data(), text.size(), &p)) << p.message;
    ASSERT_EQ(p.main.count, 2);
    EXPECT_EQ(p.main.items[0]->branch_count, 2);
    EXPECT_EQ(p.main.items[1]->branch_count, 1);
    EXPECT_EQ(p.main.items[1]->branches[0].body.count, 1);
    free_program(&p);
    EXPECT_EQ(syntax("IF a THEN PRINT 1 : ELSE PRINT 2"), "expected a statement, found else");
    EXPECT_EQ(syntax("IF a PRINT 1"), "expected then, found print");
    EXPECT_EQ(syntax("IF a THEN\nELSE\nELSE\nEND IF"), "ELSE after ELSE");
    EXPECT_EQ(syntax("IF a THEN\nELSE\nELSEIF b THEN\nEND IF"), "ELSEIF after ELSE");
    EXPECT_EQ(syntax("IF a THEN\nELSEIF b THEN\nELSE\nEND IF"), "<ok>");
    EXPECT_EQ(syntax("IF a THEN\nWEND"), "WEND where END IF was expected (IF opened at line 1)");
}

TEST_F(BasicParser, BlockMismatchAndIncomplete) {
    ParseResult r = parse("FOR i = 1 TO 3");
    EXPECT_EQ(r.message, "FOR without NEXT (opened at line 1)");
    EXPECT_TRUE(r.incomplete);
    r = parse("x = 1\nWHILE x\n");
    EXPECT_EQ(r.message, "WHILE without WEND (opened at line 2)");
    EXPECT_TRUE(r.incomplete);
    r = parse("NEXT");
    EXPECT_EQ(r.message, "NEXT without a matching opening statement");
    EXPECT_FALSE(r.incomplete);
    EXPECT_EQ(syntax("END IF"), "END IF without a matching opening statement");
    EXPECT_EQ(syntax("WEND"), "WEND without a matching opening statement");
    EXPECT_EQ(syntax("CASE 1"), "CASE without a matching opening statement");
    EXPECT_EQ(syntax("DO\nNEXT"), "NEXT where LOOP was expected (DO opened at line 1)");
    EXPECT_EQ(syntax("SELECT CASE x\nCASE 1\nWEND"),
              "WEND where END SELECT was expected (SELECT CASE opened at line 1)");
    EXPECT_EQ(syntax("SUB s\nEND FUNCTION"), "END FUNCTION where END SUB was expected (SUB opened at line 1)");
    r = parse("FUNCTION f\n");
    EXPECT_EQ(r.message, "FUNCTION without END FUNCTION (opened at line 1)");
    EXPECT_TRUE(r.incomplete);
    // An unfinished expression at the end is incomplete too; a bad token is not.
    r = parse("x = ");
    EXPECT_EQ(r.message, "expected an expression, found end of input");
    EXPECT_TRUE(r.incomplete);
    r = parse("x = )");
    EXPECT_EQ(r.message, "expected an expression, found ')'");
    EXPECT_FALSE(r.incomplete);
    r = parse("PRINT \"abc");
    EXPECT_EQ(r.message, "unterminated string");
    EXPECT_FALSE(r.incomplete);
}

TEST_F(BasicParser, ErrorLines) {
    ParseResult r = parse("x = 1\n\ny = (2\n");
    EXPECT_EQ(r.message, "expected ')', found end of line");
    EXPECT_EQ(r.line, 3);
    r = parse("a = 1\nb = 2 _\n  + @");
    EXPECT_EQ(r.message, "unexpected character '@'");
    EXPECT_EQ(r.line, 3);
    r = parse("x = 1.5");
    EXPECT_EQ(r.message, "unexpected character '.'");
}

TEST_F(BasicParser, LoopsMessages) {
    EXPECT_EQ(syntax("FOR 1 = 1 TO 2\nNEXT"), "expected loop variable, found number");
    EXPECT_EQ(syntax("FOR a$ = 1 TO 2\nNEXT"), "FOR variable must be numeric");
    EXPECT_EQ(syntax("FOR i 1 TO 2\nNEXT"), "expected '=', found number");
    EXPECT_EQ(syntax("FOR i = 1, 2\nNEXT"), "expected to, found ','");
    EXPECT_EQ(syntax("FOR i = 1 TO 2\nNEXT j"), "NEXT j does not match FOR i");
    EXPECT_EQ(syntax("FOR I = 1 TO 2\nNEXT J"), "NEXT J does not match FOR i");
    EXPECT_EQ(syntax("FOR I = 1 TO 2\nNEXT i"), "<ok>");
    EXPECT_EQ(syntax("FOR i = 1 TO 9 STEP 2: NEXT"), "<ok>");
    EXPECT_EQ(syntax("WHILE x\nEND WHILE"), "<ok>");
    EXPECT_EQ(syntax("WHILE x\nWEND"), "<ok>");
    EXPECT_EQ(syntax("DO WHILE x\nLOOP UNTIL y"), "DO loop has a condition both at the start and at the end");
    EXPECT_EQ(syntax("DO\nLOOP UNTIL y"), "<ok>");
    EXPECT_EQ(syntax("DO UNTIL x\nLOOP"), "<ok>");
    EXPECT_EQ(syntax("DO\nEXIT DO\nCONTINUE DO\nLOOP"), "<ok>");
    EXPECT_EQ(syntax("CONTINUE SUB"), "expected FOR, WHILE or DO, found sub");
    EXPECT_EQ(syntax("GOTO 10"), "expected a label, found number");
}

TEST_F(BasicParser, SelectMessages) {
    EXPECT_EQ(syntax("SELECT x\nEND SELECT"), "expected case, found identifier");
    EXPECT_EQ(syntax("SELECT CASE x\nPRINT 1\nCASE 1\nEND SELECT"),
              "statements between SELECT CASE and the first CASE");
    EXPECT_EQ(syntax("SELECT CASE x\nEND SELECT"), "<ok>");
    EXPECT_EQ(syntax("SELECT CASE x\nCASE ELSE\nCASE 1\nEND SELECT"), "CASE after CASE ELSE");
    EXPECT_EQ(syntax("SELECT CASE x\nCASE IS + 1\nEND SELECT"), "expected a comparison operator, found '+'");
    EXPECT_EQ(syntax("SELECT CASE x\nCASE 1, 2 TO 5, IS >= 9: PRINT 1\nCASE ELSE\nEND SELECT"), "<ok>");
}

TEST_F(BasicParser, AssignmentAndCallForms) {
    EXPECT_EQ(syntax("a(1, 2) = 3"), "array index expected: a(index) = value");
    EXPECT_EQ(syntax("A() = 3"), "array index expected: a(index) = value");
    EXPECT_EQ(syntax("LET = 3"), "expected a variable, found '='");
    EXPECT_EQ(syntax("LET x = 3"), "<ok>");
    EXPECT_EQ(syntax("LET s"), "<ok>");  // without "=" it calls the procedure s
    EXPECT_EQ(syntax("s (1), 2"), "unexpected ','");
    EXPECT_EQ(syntax("s 1, 2"), "<ok>");
    EXPECT_EQ(syntax("CALL s(1, 2)"), "<ok>");
    EXPECT_EQ(syntax("CALL 5"), "expected a SUB name, found number");
    EXPECT_EQ(syntax("PRINT a b"), "expected end of statement, found identifier");
    EXPECT_EQ(syntax("PRINT a;"), "<ok>");
    EXPECT_EQ(syntax("PRINT a,"), "<ok>");
    EXPECT_EQ(syntax("PRINT"), "<ok>");
    EXPECT_EQ(syntax("x = RUN \"ls\""), "RUN is a statement: use RUN$(...) to capture the output of a command");
    EXPECT_EQ(syntax("x = 2^-1"), "expected an expression, found '-'");
    EXPECT_EQ(syntax("x = f(1 2)"), "expected ')', found number");
    EXPECT_EQ(syntax("THEN"), "expected a statement, found then");
    EXPECT_EQ(syntax("x = 1 +"), "expected an expression, found end of input");
}

TEST_F(BasicParser, LabelsAndCallsWithColon) {
    Program p;
    std::string text = "start:\nstart: PRINT 1\nlater: ' a comment\nx = 1: there: REM\n";
    ASSERT_TRUE(parse_program(text.data(), text.size(), &p)) << p.message;
    ASSERT_EQ(p.main.label_count, 2);  // "start" and "later"
    EXPECT_STREQ(p.main.labels[1].name, "later");
    ASSERT_EQ(p.main.count, 4);
    EXPECT_EQ(p.main.items[0]->kind, kStmtCall);  // start: PRINT 1
    EXPECT_STREQ(p.main.items[0]->name, "start");
    EXPECT_EQ(p.main.items[3]->kind, kStmtCall);  // there: (not at line start)
    free_program(&p);
    EXPECT_EQ(syntax("a:\nb:\nA:\n"), "label a defined twice");
    // The same label in different lists is fine.
    EXPECT_EQ(syntax("a:\nIF x THEN\na:\nEND IF\n"), "<ok>");
}

TEST_F(BasicParser, DefinitionsMessages) {
    EXPECT_EQ(syntax("SUB f$()\nEND SUB"), "SUB names cannot end with $");
    EXPECT_EQ(syntax("IF x THEN\nSUB s\nEND SUB\nEND IF"), "SUB definitions are only allowed at the top level");
    EXPECT_EQ(syntax("SUB a\nFUNCTION b\nEND FUNCTION\nEND SUB"),
              "FUNCTION definitions are only allowed at the top level");
    EXPECT_EQ(syntax("IF x THEN SUB s"), "SUB definitions are only allowed at the top level");
    EXPECT_EQ(syntax("SUB 5\nEND SUB"), "expected a name, found number");
    EXPECT_EQ(syntax("SUB s(1)\nEND SUB"), "expected a parameter name, found number");
    EXPECT_EQ(syntax("SUB s(a b)\nEND SUB"), "expected ')', found identifier");
    EXPECT_EQ(syntax("SUB s()\nEND SUB"), "<ok>");
    EXPECT_EQ(syntax("SUB s\nEND SUB\nSUB S\nEND SUB"), "s is defined twice");
    EXPECT_EQ(syntax("LOCAL x"), "LOCAL can only be used inside SUB or FUNCTION");
    EXPECT_EQ(syntax("SUB s\nLOCAL x, y$(3)\nEND SUB"), "<ok>");
    EXPECT_EQ(syntax("DIM a(1, 2)"), "arrays have exactly one dimension: a(size)");
    EXPECT_EQ(syntax("DIM a()"), "arrays have exactly one dimension: a(size)");
    EXPECT_EQ(syntax("DIM 5"), "expected a variable name, found number");
    EXPECT_EQ(syntax("REDIM a(3), b, c$(2)"), "<ok>");
    EXPECT_EQ(syntax("RETURN"), "<ok>");  // checked when it runs
    EXPECT_EQ(syntax("EXIT SUB"), "<ok>");
    EXPECT_EQ(syntax("EXIT 3"), "<ok>");
}

TEST_F(BasicParser, StatementArgumentCounts) {
    EXPECT_EQ(syntax("LOCATE 5"), "wrong number of arguments for locate");
    EXPECT_EQ(syntax("LOCATE"), "expected an expression, found end of input");
    EXPECT_EQ(syntax("SLEEP\n"), "expected an expression, found end of line");
    EXPECT_EQ(syntax("SLEEP 1, 2"), "wrong number of arguments for sleep");
    EXPECT_EQ(syntax("COLOR 1, 2, 3"), "wrong number of arguments for color");
    EXPECT_EQ(syntax("COLOR"), "<ok>");
    EXPECT_EQ(syntax("PAUSE"), "<ok>");
    EXPECT_EQ(syntax("PAUSE 1, 2"), "wrong number of arguments for pause");
    EXPECT_EQ(syntax("RUN"), "expected an expression, found end of input");
    EXPECT_EQ(syntax("RUN \"ls\", \"-l\" TO \"x.txt\""), "<ok>");
    EXPECT_EQ(syntax("RUN \"ls\" APPEND f$"), "<ok>");
    EXPECT_EQ(syntax("INPUT \"n\" n"), "expected ';' after the INPUT prompt, found identifier");
    EXPECT_EQ(syntax("INPUT \"n\"; 5"), "expected a variable, found number");
    EXPECT_EQ(syntax("INPUT a(3)"), "<ok>");
    EXPECT_EQ(syntax("INPUT \"x\", b$"), "<ok>");
}

TEST_F(BasicParser, BlockDepthLimit) {
    EXPECT_EQ(syntax(nested("FOR i = 1 TO 2", "NEXT", 63)), "<ok>");
    EXPECT_EQ(syntax(nested("FOR i = 1 TO 2", "NEXT", 64)), "blocks nested too deeply");
    EXPECT_EQ(syntax(nested("IF 1 THEN", "END IF", 200)), "blocks nested too deeply");
}

TEST_F(BasicParser, SingleLineIfNestingIsBounded) {
    std::string ifs;
    for (int i = 0; i < 63; i++) ifs += "IF 1 THEN ";
    EXPECT_EQ(syntax(ifs + "PRINT 1"), "<ok>");
    EXPECT_EQ(syntax(ifs + "IF 1 THEN PRINT 1"), "blocks nested too deeply");
    std::string many;
    for (int i = 0; i < 100000; i++) many += "IF 1 THEN ";
    EXPECT_EQ(syntax(many + "PRINT 1"), "blocks nested too deeply");
}

TEST_F(BasicParser, ExpressionDepthLimit) {
    EXPECT_EQ(syntax("x = " + std::string(63, '(') + "1" + std::string(63, ')')), "<ok>");
    EXPECT_EQ(syntax("x = " + std::string(64, '(') + "1" + std::string(64, ')')), "expression too complex");
    EXPECT_EQ(syntax("x = " + std::string(100000, '(')), "expression too complex");
    EXPECT_EQ(syntax("x = " + std::string(100000, '-') + "1"), "expression too complex");
    std::string nots;
    for (int i = 0; i < 70; i++) nots += "NOT ";
    EXPECT_EQ(syntax("x = " + nots + "1"), "expression too complex");
}

TEST_F(BasicParser, LongOperatorChainsAreBounded) {
    // The tree height is bounded so that evaluating or freeing it cannot exhaust the stack.
    std::string chain = "x = 1";
    for (int i = 0; i < 500; i++) chain += " + 1";
    EXPECT_EQ(syntax(chain), "<ok>");
    for (int i = 0; i < 20; i++) chain += " + 1";
    EXPECT_EQ(syntax(chain), "expression too complex");
    std::string longer = "x = 1";
    for (int i = 0; i < 100000; i++) longer += "+1";
    EXPECT_EQ(syntax(longer), "expression too complex");
    std::string powers = "x = 2";
    for (int i = 0; i < 100000; i++) powers += "^2";
    EXPECT_EQ(syntax(powers), "expression too complex");
}

TEST_F(BasicParser, OnlyTheFirstErrorIsKept) {
    ParseResult r = parse("x = (\ny = )\n");
    EXPECT_EQ(r.message, "expected an expression, found end of line");
    EXPECT_EQ(r.line, 1);
}

TEST_F(BasicParser, LongMessagesAreCut) {
    std::string name(300, 'n');
    ParseResult r = parse("FOR i = 1 TO 2\nNEXT " + name);
    EXPECT_EQ(r.message.size(), 199u);
    EXPECT_EQ(r.message.substr(0, 8), "NEXT nnn");
}
