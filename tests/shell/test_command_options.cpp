// Every command reads its options through the shared parser, so an unknown option reads
// the same everywhere: one message naming it, the usage line, exit code 2, nothing done.
#include "command_test.h"

namespace {

using tarn_test::CommandShell;
using tarn_test::RunResult;

TEST(CommandOptions, UnknownOptionsReadTheSameEverywhere) {
    CommandShell sh;
    sh.add_file("a.txt", "a\n");
    const struct {
        const char* line;
        const char* named;  // how the message names the option
    } cases[] = {
        {"ls -z", "-z"},         {"dir -lz", "-lz"},      {"map -rz", "-rz"},
        {"vol -z", "-z"},        {"cat -z a.txt", "-z"},  {"head -z a.txt", "-z"},
        {"tail -z a.txt", "-z"}, {"hexdump -z a.txt", "-z"}, {"comp -z a.txt a.txt", "-z"},
        {"cmp -z a.txt a.txt", "-z"}, {"parse -z a.txt t 1", "-z"}, {"attrib -z a.txt", "-z"},
        {"set -z", "-z"},        {"alias -z", "-z"},      {"cp -rz a.txt b", "-z"},
        {"rm -z a.txt", "-z"},   {"grep -z a a.txt", "-z"}, {"history -z", "-z"},
        {"touch -z a.txt", "-z"}, {"mkdir -z d", "-z"},
    };
    for (const auto& c : cases) {
        const std::string line = c.line;
        const std::string name = line.substr(0, line.find(' '));
        const RunResult r = sh.expect_failure(line, 2, name + ": unknown option " + c.named + "\nusage: " + name + " ");
        EXPECT_EQ(r.out, "") << line;
    }
    EXPECT_FALSE(sh.exists("b"));
    EXPECT_TRUE(sh.exists("a.txt"));
}

TEST(CommandOptions, ValuesAndSwitchesWhereverTheCommandTakesThem) {
    CommandShell sh;
    sh.add_file("a.txt", "1\n2\n3\n");
    sh.add_file("b.txt", "1\n2\n4\n");
    EXPECT_EQ(sh.run("head -n 1 a.txt").out, "1\n");
    EXPECT_EQ(sh.run("comp a.txt -N 1 b.txt -S 2").code, 1);  // values anywhere, any case
    EXPECT_EQ(sh.run("hexdump -s 4 -n 1 a.txt").out.substr(0, 14), "00000004  33  ");
    EXPECT_EQ(sh.run("set -v T x").code, 0);
    EXPECT_EQ(sh.run("set -xyz 1").code, 0);  // a longer dash word is a name
    sh.fw.push_key(u'x');
    const RunResult quiet = sh.run("pause -Q");
    EXPECT_EQ(quiet.code, 0);
    EXPECT_EQ(quiet.out, "\n");  // no default prompt
    EXPECT_EQ(sh.run("echo -- -n").out, "-- -n\n");  // echo prints its words as typed
}

}  // namespace
