// The help topics, and the usage lines of `help`: every option a usage line shows must be
// one its command's parser accepts, so the help cannot drift from the commands.
#include <regex>

#include "command_test.h"

namespace {

using tarn_test::CommandShell;

// Commands whose options act on the machine at once (a reset would end the test run).
bool acts_at_once(const std::string& name) { return name == "reset"; }

TEST(HelpUsage, EveryOptionShownIsAccepted) {
    CommandShell sh(tarn_test::file_commands());
    sh.add_file("a.txt", "a\n");
    const std::regex option(R"((?:^|[ \[|(])(-[A-Za-z][A-Za-z0-9]*))");
    int checked = 0;
    for (uint64_t i = 0; i < tarn::command_count(); i++) {
        const tarn::CommandDescriptor* d = tarn::command_at(i);
        if (!d->usage || acts_at_once(d->name)) continue;
        const std::string usage = d->usage;
        for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it) {
            const std::string line = std::string(d->name) + " " + (*it)[1].str();
            // A command that waits for a key (pause, a question) gets one.
            if (sh.fw.pending_keys() == 0) sh.fw.push_key(u'q');
            const tarn_test::RunResult r = sh.run_captured(line);
            EXPECT_EQ(r.errors.find("unknown option"), std::string::npos) << line << ": " << r.errors;
            checked++;
        }
    }
    EXPECT_GT(checked, 40);
}

TEST(HelpTopics, KeysSyntaxAndTheListingNameEachOther) {
    CommandShell sh(tarn_test::file_commands());
    const std::string keys = sh.output("help keys");
    for (const char* binding : {"Ctrl-R", "Ctrl-K", "Ctrl-U", "Ctrl-W", "Tab", "Ctrl-A Ctrl-A",
                                "q, Esc, Ctrl-C", "ESC [ 3 ~"})
        EXPECT_NE(keys.find(binding), std::string::npos) << binding;
    const std::string syntax = sh.output("HELP Syntax");
    for (const char* rule : {"\"\" stands for one \"", ">> FILE appends", "-data", "RECORDS",
                             "sleep 10 waits 10 milliseconds", "path variable"})
        EXPECT_NE(syntax.find(rule), std::string::npos) << rule;
    // The -data list comes from the registry: ls has records, echo has none.
    const size_t list = syntax.find("Commands that accept -data:\n");
    ASSERT_NE(list, std::string::npos);
    std::string names = " " + syntax.substr(list, syntax.find("\n\n", list) - list) + " ";
    // The list wraps: a name may end a line.
    for (char& c : names)
        if (c == '\n') c = ' ';
    EXPECT_NE(names.find(" ls "), std::string::npos) << names;
    EXPECT_EQ(names.find(" echo "), std::string::npos) << names;
    EXPECT_NE(sh.output("help").find("Topics: help keys, help syntax, help basic, help functions.\n"),
              std::string::npos);
}

}  // namespace
