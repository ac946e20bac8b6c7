// Splitting command lines into words and a redirection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/memory.h"
#include "shell/command_line.h"
#include "sim.h"

using namespace tarn;

namespace {

struct Split {
    bool ok = false;
    std::vector<std::string> words;
    std::string error;
    bool has_target = false;
    std::string target;
    bool append = false;
};

Split run_split(const char* line, bool redirect = true, bool raw = false) {
    Split s;
    int count = -1;
    const char* error = nullptr;
    char* target = nullptr;
    bool append = false;
    char** words = split_command_line(line, &count, &error, redirect ? &target : nullptr,
                                      &append, raw);
    if (!words) {
        s.error = error ? error : "(null)";
        EXPECT_EQ(target, nullptr);
        return s;
    }
    s.ok = true;
    for (int i = 0; i < count; i++) s.words.push_back(words[i]);
    EXPECT_EQ(words[count], nullptr);
    free_words(words);
    if (target) {
        s.has_target = true;
        s.target = target;
        release(target);
    }
    s.append = append;
    return s;
}

using Words = std::vector<std::string>;

TEST(ShellCommandLine, BlanksSeparateWords) {
    sim::SimFirmware fw;
    EXPECT_EQ(run_split("ls   -l\tfs0:").words, (Words{"ls", "-l", "fs0:"}));
    EXPECT_EQ(run_split("  \t ").words, Words{});
    EXPECT_EQ(run_split("").words, Words{});
    EXPECT_EQ(run_split(nullptr).words, Words{});
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellCommandLine, QuotesGroupAndDoubledQuotesAreLiteral) {
    sim::SimFirmware fw;
    EXPECT_EQ(run_split("echo \"a \"\"quoted\"\" word\"").words,
              (Words{"echo", "a \"quoted\" word"}));
    EXPECT_EQ(run_split("ab\"c d\"e").words, (Words{"abc de"}));
    EXPECT_EQ(run_split("echo \"\"").words, (Words{"echo", ""}));
    EXPECT_EQ(run_split("echo \"\" x").words, (Words{"echo", "", "x"}));
    // Outside a quoted part a doubled quote opens and closes an empty part.
    EXPECT_EQ(run_split("a\"\"b").words, (Words{"ab"}));
    EXPECT_EQ(run_split("\"a>b\" c").words, (Words{"a>b", "c"}));
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellCommandLine, Redirection) {
    sim::SimFirmware fw;
    Split s = run_split("echo hi>>log.txt");
    EXPECT_EQ(s.words, (Words{"echo", "hi"}));
    EXPECT_EQ(s.target, "log.txt");
    EXPECT_TRUE(s.append);

    s = run_split("echo hi >> \"my log.txt\"");
    EXPECT_EQ(s.words, (Words{"echo", "hi"}));
    EXPECT_EQ(s.target, "my log.txt");
    EXPECT_TRUE(s.append);

    s = run_split("> out.txt echo hi");
    EXPECT_EQ(s.words, (Words{"echo", "hi"}));
    EXPECT_EQ(s.target, "out.txt");
    EXPECT_FALSE(s.append);

    s = run_split("echo a > f1 > f2");
    EXPECT_EQ(s.words, (Words{"echo", "a"}));
    EXPECT_EQ(s.target, "f2");

    s = run_split("echo a>b");
    EXPECT_EQ(s.words, (Words{"echo", "a"}));
    EXPECT_EQ(s.target, "b");

    // The last redirection wins, whatever its kind.
    s = run_split("x >> a > b");
    EXPECT_EQ(s.target, "b");
    EXPECT_FALSE(s.append);

    // A line holding only a redirection has no words.
    s = run_split("> f");
    EXPECT_TRUE(s.ok);
    EXPECT_TRUE(s.words.empty());
    EXPECT_EQ(s.target, "f");

    // An unclosed quote in a file name runs to the end of the line.
    s = run_split("echo > \"a b");
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(s.target, "a b");
    // File names end at a blank only, and quotes there follow no doubling rule.
    s = run_split("echo >a\"\"b");
    EXPECT_EQ(s.target, "ab");
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellCommandLine, SyntaxErrors) {
    sim::SimFirmware fw;
    EXPECT_EQ(run_split("echo \"abc").error, "unterminated quote");
    EXPECT_EQ(run_split("echo >").error, "missing file name after >");
    EXPECT_EQ(run_split("echo >>   ").error, "missing file name after >");
    EXPECT_EQ(run_split("echo > \"\"").error, "missing file name after >");
    EXPECT_EQ(run_split("a b c \"d e").error, "unterminated quote");
    // Words and a target collected before the error are freed.
    EXPECT_EQ(run_split("a b > t c \"d").error, "unterminated quote");
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellCommandLine, WithoutRedirectionGreaterThanIsOrdinary) {
    sim::SimFirmware fw;
    Split s = run_split("ls -l > x", false);
    EXPECT_EQ(s.words, (Words{"ls", "-l", ">", "x"}));
    s = run_split("a>b", false);
    EXPECT_EQ(s.words, (Words{"a>b"}));
    int count = 0;
    const char* error = nullptr;
    char** words = split_words("grep \"a b\" >> f", &count, &error);
    ASSERT_NE(words, nullptr);
    ASSERT_EQ(count, 4);
    EXPECT_STREQ(words[1], "a b");
    EXPECT_STREQ(words[2], ">>");
    free_words(words);
    EXPECT_EQ(split_words("\"open", &count, &error), nullptr);
    EXPECT_STREQ(error, "unterminated quote");
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellCommandLine, RawModeKeepsQuotes) {
    sim::SimFirmware fw;
    EXPECT_EQ(run_split("setvar X =\"a b\"", true, true).words,
              (Words{"setvar", "X", "=\"a b\""}));
    EXPECT_EQ(run_split("setvar V =L\"x y\"", true, true).words,
              (Words{"setvar", "V", "=L\"x y\""}));
    // No doubled-quote rule: "a""b" stays as typed.
    EXPECT_EQ(run_split("x \"a\"\"b\"", true, true).words, (Words{"x", "\"a\"\"b\""}));
    EXPECT_EQ(run_split("x \"a", true, true).error, "unterminated quote");
    Split s = run_split("setvar X =\"a>b\" > \"o f\"", true, true);
    EXPECT_EQ(s.words, (Words{"setvar", "X", "=\"a>b\""}));
    EXPECT_EQ(s.target, "o f");
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(ShellCommandLine, LongLinesAndManyWords) {
    sim::SimFirmware fw;
    std::string line;
    for (int i = 0; i < 5000; i++) line += "w" + std::to_string(i) + " ";
    Split s = run_split(line.c_str());
    ASSERT_EQ(s.words.size(), 5000u);
    EXPECT_EQ(s.words[4999], "w4999");

    std::string big(200000, 'x');
    s = run_split(big.c_str());
    ASSERT_EQ(s.words.size(), 1u);
    EXPECT_EQ(s.words[0].size(), big.size());

    std::string quotes = "\"" + std::string(100000, ' ') + "\"";
    s = run_split(quotes.c_str());
    ASSERT_EQ(s.words.size(), 1u);
    EXPECT_EQ(s.words[0].size(), 100000u);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

}  // namespace
