// Whole command lines: redirection, aliases, shell switches, volume switches, the path
// search, Ctrl-C and lasterror.
#include <string>

#include "runtime/memory.h"
#include "command_test.h"

using namespace tarn;
using namespace tarn_test;
using Words = std::vector<std::string>;

namespace {

const std::vector<std::string>& last_args() { return calls().commands.back(); }

TEST(ShellExecutor, QuotingReachesTheCommand) {
    CommandShell sh;
    RunResult r = sh.run("targs \"a \"\"quoted\"\" word\" ab\"c d\"e \"\"");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(last_args(), (Words{"targs", "a \"quoted\" word", "abc de", ""}));
    EXPECT_EQ(r.out, "[a \"quoted\" word]\n[abc de]\n[]\n");
}

TEST(ShellExecutor, RedirectionWritesAndAppends) {
    CommandShell sh;
    auto fs0 = sh.volumes[0];
    EXPECT_EQ(sh.run("targs one > out.txt").code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, fs0, "\\out.txt"), "[one]\n");
    EXPECT_EQ(sh.run("targs two>>out.txt").code, 0);
    EXPECT_EQ(sh.run("targs three >> \"my log.txt\"").code, 0);
    EXPECT_EQ(sh.run("> out2.txt targs four").code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, fs0, "\\out.txt"), "[one]\n[two]\n");
    EXPECT_EQ(sim::read_file(sh.fw, fs0, "\\my log.txt"), "[three]\n");
    EXPECT_EQ(sim::read_file(sh.fw, fs0, "\\out2.txt"), "[four]\n");
    // Only the last target is opened.
    EXPECT_EQ(sh.run("targs a > f1 > f2").code, 0);
    EXPECT_FALSE(sim::exists(sh.fw, fs0, "\\f1"));
    EXPECT_EQ(sim::read_file(sh.fw, fs0, "\\f2"), "[a]\n");
    // Nothing reached the console.
    EXPECT_EQ(sh.run("targs quiet > f3").out, "");
}

TEST(ShellExecutor, ErrorLinesBypassRedirection) {
    CommandShell sh;
    sh.expect_failure("terr > e.txt", 1, "terr: went wrong\n");
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[0], "\\e.txt"), "normal\n");
}

TEST(ShellExecutor, SyntaxErrorsRunNothing) {
    CommandShell sh;
    sh.run("tret 4");
    RunResult r = sh.expect_failure("targs \"abc", 2, "syntax error: unterminated quote\n");
    EXPECT_EQ(last_error(), 2);
    sh.expect_failure("targs >", 2, "syntax error: missing file name after >\n");
    r = sh.run("targs x >>   ");
    EXPECT_EQ(r.errors, "syntax error: missing file name after >\n");
    EXPECT_TRUE(calls().commands.empty());
}

TEST(ShellExecutor, EmptyLinesKeepLasterror) {
    CommandShell sh;
    EXPECT_EQ(sh.run("tret 7").code, 7);
    EXPECT_EQ(sh.run("").code, 7);
    EXPECT_EQ(sh.run("   \t ").code, 7);
    // A line holding only a redirection runs nothing and creates nothing.
    EXPECT_EQ(sh.run("> only.txt").code, 7);
    EXPECT_FALSE(sim::exists(sh.fw, sh.volumes[0], "\\only.txt"));
    EXPECT_EQ(last_error(), 7);
}

TEST(ShellExecutor, RedirectionToMissingVolumeOrBadTarget) {
    CommandShell sh;
    RunResult r = sh.expect_failure("targs x > fs9:\\out.txt", 1, "fs9:\\out.txt: invalid path\n");
    EXPECT_EQ(last_error(), 1);
    EXPECT_TRUE(calls().commands.empty());
    sim::add_directory(sh.fw, sh.volumes[0], "\\dir");
    sh.expect_failure("targs x > dir", 1, "fs0:\\dir: is a directory\n");
    EXPECT_TRUE(calls().commands.empty());
}

TEST(ShellExecutor, WriteErrorOnTheRedirectionFile) {
    CommandShell sh;
    sim::fail_writes_after(sh.fw, sh.volumes[0], 0);
    RunResult r = sh.run("targs x > w.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.errors.find("fs0:\\w.txt: "), std::string::npos) << r.errors;
    EXPECT_EQ(calls().commands.size(), 1u);
}

TEST(ShellExecutor, UnknownCommand) {
    CommandShell sh;
    RunResult r = sh.expect_failure("nothing here", 127, "nothing: command not found\n");
    r = sh.run("set lasterror");
    EXPECT_EQ(r.out, "0x7f\n");
}

TEST(ShellExecutor, DataSwitch) {
    CommandShell sh;
    RunResult r = sh.expect_failure("targs -data x", 2, "targs: -data is not supported by this command\n");
    EXPECT_TRUE(calls().commands.empty());
    r = sh.run("tdata x -DATA y");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(last_args(), (Words{"tdata", "x", "y"}));
    ASSERT_EQ(calls().data_modes.size(), 1u);
    EXPECT_TRUE(calls().data_modes[0]);
    EXPECT_FALSE(data_mode());  // restored afterwards
    sh.run("tdata");
    EXPECT_FALSE(calls().data_modes[1]);
    // set accepts it and prints records.
    r = sh.run("set -data");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("name=cwd\nvalue=fs0:\\\nkind=readonly\n\nname=lasterror\n"),
              std::string::npos)
        << r.out;
}

TEST(ShellExecutor, PagingSwitchAndOwnB) {
    CommandShell sh;
    sh.run("townb -b 3");
    EXPECT_EQ(last_args(), (Words{"townb", "-b", "3"}));
    sh.run("targs -b file");
    EXPECT_EQ(last_args(), (Words{"targs", "file"}));
    // Only the exact lower-case form is the switch.
    sh.run("targs -B file");
    EXPECT_EQ(last_args(), (Words{"targs", "-B", "file"}));
}

TEST(ShellExecutor, SfoIsRefused) {
    CommandShell sh;
    sh.expect_failure("tdata x -SFO", 2, "tdata: -sfo (UEFI Shell format) is not supported: use -data\n");
    EXPECT_TRUE(calls().commands.empty());
    EXPECT_EQ(last_error(), 2);
}

TEST(ShellExecutor, UnknownOptionPrintsUsage) {
    CommandShell sh;
    RunResult r = sh.expect_failure("topt -a x -z", 2, "topt: unknown option -z\nusage: topt [-a] [-c] X...\n");
    r = sh.run("topt x -ca -- -z");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "a=1 c=1 operands=2\n");
}

TEST(ShellExecutor, RawArgumentsKeepQuotes) {
    CommandShell sh;
    sh.run("traw X =\"a b\" =L\"x y\"");
    EXPECT_EQ(last_args(), (Words{"traw", "X", "=\"a b\"", "=L\"x y\""}));
    // The command word itself is looked up and passed without its quotes.
    sh.run("\"traw\" \"q\"");
    EXPECT_EQ(last_args(), (Words{"traw", "\"q\""}));
    sh.expect_failure("traw \"open", 2, "syntax error: unterminated quote\n");
}

TEST(ShellExecutor, AliasAppendsTheTypedArguments) {
    CommandShell sh;
    ASSERT_EQ(sh.run("alias ll targs -l").code, 0);
    sh.run("ll -r fs0:");
    EXPECT_EQ(last_args(), (Words{"targs", "-l", "-r", "fs0:"}));
    sh.run("LL");
    EXPECT_EQ(last_args(), (Words{"targs", "-l"}));
}

TEST(ShellExecutor, AliasChainsOfEightExpandNineDoNot) {
    CommandShell sh;
    for (int i = 1; i <= 7; i++)
        ASSERT_EQ(sh.run("alias a" + std::to_string(i) + " a" + std::to_string(i + 1)).code, 0);
    ASSERT_EQ(sh.run("alias a8 targs end").code, 0);
    RunResult r = sh.run("a1 x");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(last_args(), (Words{"targs", "end", "x"}));
    EXPECT_EQ(alias_depth(), 0);

    ASSERT_EQ(sh.run("alias a8 a9").code, 0);
    ASSERT_EQ(sh.run("alias a9 targs end").code, 0);
    sh.expect_failure("a1 x", 127, "a9: command not found\n");
    EXPECT_EQ(alias_depth(), 0);
}

TEST(ShellExecutor, SelfReferringAliasesEnd) {
    CommandShell sh;
    sh.run("alias self self -v");
    RunResult r = sh.expect_failure("self", 127, "self: command not found\n");
    sh.run("alias ding dong");
    sh.run("alias dong ding");
    sh.expect_failure("ding", 127, "ding: command not found\n");
    // An alias naming a script keeps its words once and then finds the file.
    sim::add_file(sh.fw, sh.volumes[0], "\\tool.tsb", "PRINT 1");
    sh.run("alias tool tool -v");
    r = sh.run("tool x");
    EXPECT_EQ(r.code, 5);
    ASSERT_EQ(calls().scripts.size(), 1u);
    EXPECT_EQ(calls().scripts[0], "fs0:\\tool.tsb|-v|x");
}

TEST(ShellExecutor, AliasesThatYieldNoWordsAreIgnored) {
    CommandShell sh;
    ASSERT_EQ(set_alias("blank", "  ", false, true), nullptr);
    RunResult r = sh.run("blank");
    EXPECT_EQ(r.errors, "blank: command not found\n");
    ASSERT_EQ(set_alias("broken", "targs \"open", false, true), nullptr);
    r = sh.run("broken");
    EXPECT_EQ(r.errors, "broken: command not found\n");
    // Redirection characters in an alias value are ordinary.
    ASSERT_EQ(set_alias("gt", "targs >x", false, true), nullptr);
    sh.run("gt");
    EXPECT_EQ(last_args(), (Words{"targs", ">x"}));
}

TEST(ShellExecutor, VolumeSwitch) {
    CommandShell sh(2);
    RunResult r = sh.run("fs1:");
    EXPECT_EQ(r.code, 0);
    EXPECT_STREQ(current_directory(), "fs1:\\");
    EXPECT_EQ(sh.run("FS0:").code, 0);
    EXPECT_STREQ(current_directory(), "fs0:\\");
    sh.expect_failure("fs9:", 1, "fs9:: no such volume\n");
    sh.expect_failure("fs1: foo", 127, "fs1:: command not found\n");
    r = sh.run(":");
    EXPECT_EQ(r.code, 127);
    EXPECT_STREQ(current_directory(), "fs0:\\");
}

TEST(ShellExecutor, CtrlC) {
    CommandShell sh;
    RunResult r = sh.expect_failure("tbreak 0", 130, "^C\n");
    EXPECT_EQ(last_error(), 130);
    sh.expect_failure("tbreak 3", 3, "^C\n");
    EXPECT_FALSE(poll_break());
}

TEST(ShellExecutor, PagerQuitIsNotAnInterruption) {
    CommandShell sh;
    sh.fw.push_key(u'q');
    RunResult r = sh.run("tlines 60");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("-- More --"), std::string::npos);
    EXPECT_EQ(r.out.find("line 30"), std::string::npos);
    EXPECT_EQ(r.errors, "");
}

TEST(ShellExecutor, PagingDecision) {
    CommandShell sh;
    // Redirected output, -data and pager=off turn automatic paging off.
    EXPECT_EQ(sh.run("tlines 60 > l.txt").code, 0);
    EXPECT_EQ(sh.run("set -v pager off").code, 0);
    RunResult r = sh.run("tlines 60");
    EXPECT_EQ(r.out.find("-- More --"), std::string::npos);
    EXPECT_NE(r.out.find("line 60"), std::string::npos);
    // -b turns it on whatever the variable says.
    sh.fw.push_key(u'q');
    r = sh.run("tlines 60 -b");
    EXPECT_NE(r.out.find("-- More --"), std::string::npos);
    EXPECT_EQ(r.out.find("line 60"), std::string::npos);
    EXPECT_EQ(sh.run("set -v pager 0").code, 0);
    r = sh.run("tlines 60");
    EXPECT_EQ(r.out.find("-- More --"), std::string::npos);
    // Inside a script nothing pages.
    EXPECT_EQ(sh.run("set -d pager").code, 0);
    enter_script();
    r = sh.run("tlines 60");
    leave_script();
    EXPECT_EQ(r.out.find("-- More --"), std::string::npos);
}

TEST(ShellExecutor, LongLinesAndManyWords) {
    CommandShell sh;
    std::string line = "targs";
    for (int i = 0; i < 4000; i++) line += " w" + std::to_string(i);
    ASSERT_GT(line.size(), 20000u);
    RunResult r = sh.run(line + " > many.txt");
    EXPECT_EQ(r.code, 0);
    ASSERT_EQ(last_args().size(), 4001u);
    EXPECT_EQ(last_args()[4000], "w3999");
    std::string word(100000, 'k');
    r = sh.run("targs " + word + " > big.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(last_args()[1].size(), 100000u);
    r = sh.run(std::string(50000, 'z'));
    EXPECT_EQ(r.code, 127);
}

TEST(ShellExecutor, RunArgumentsStoresLasterror) {
    CommandShell sh;
    char w0[] = "tret", w1[] = "9";
    char* vector[] = {w0, w1, nullptr};
    EXPECT_EQ(run_arguments(2, vector), 9);
    EXPECT_EQ(last_error(), 9);
    EXPECT_EQ(run_arguments(0, vector), 0);
    EXPECT_EQ(last_error(), 0);
}

TEST(ShellExecutor, StateIsFreedAfterEachLine) {
    CommandShell sh;
    sh.run("alias ll targs -l");
    int64_t before = sh.fw.outstanding_allocations();
    sh.run("ll a b > o.txt");
    sh.run("targs \"x");
    sh.run("nothing");
    sh.run("tdata -data -b y");
    sh.run("fs9:");
    EXPECT_EQ(sh.fw.outstanding_allocations(), before);
}

}  // namespace
