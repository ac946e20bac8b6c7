// The shared option parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/output.h"
#include "shell/options.h"
#include "shell/registry.h"
#include "sim.h"

using namespace tarn;

namespace {

struct Args {
    std::vector<std::string> storage;
    std::vector<char*> vector;
    explicit Args(std::vector<std::string> words) : storage(std::move(words)) {
        for (auto& w : storage) vector.push_back(w.data());
        vector.push_back(nullptr);
    }
    int count() const { return static_cast<int>(storage.size()); }
    std::vector<std::string> from(int first) const {
        std::vector<std::string> out;
        for (int i = first; i < count(); i++) out.push_back(vector[i]);
        return out;
    }
};

int tool(int, char**) { return 0; }
const CommandDescriptor kTool[] = {{"tool", tool, "tool [-r] [-f] FILE...", "A tool", nullptr, 0}};

using Words = std::vector<std::string>;

TEST(ShellOptions, ClustersAndOperandsInAnyOrder) {
    sim::SimFirmware fw;
    Args a({"cp", "x", "-rf", "y", "-q", "z"});
    uint8_t flags[3] = {9, 9, 9};
    int first = parse_options(a.count(), a.vector.data(), "rfq", flags);
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 1);
    EXPECT_EQ(flags[2], 1);
    EXPECT_EQ(a.from(first), (Words{"x", "y", "z"}));
    EXPECT_EQ(a.vector[a.count()], nullptr);
}

TEST(ShellOptions, FlagsAreClearedAndNumbersAreOperands) {
    sim::SimFirmware fw;
    Args a({"head", "-5", "-", "f"});
    uint8_t flags[1] = {1};
    int first = parse_options(a.count(), a.vector.data(), "n", flags);
    EXPECT_EQ(flags[0], 0);
    EXPECT_EQ(a.from(first), (Words{"-5", "-", "f"}));
}

TEST(ShellOptions, DoubleDashEndsOptions) {
    sim::SimFirmware fw;
    Args a({"rm", "-r", "--", "-f", "x"});
    uint8_t flags[2] = {};
    int first = parse_options(a.count(), a.vector.data(), "rf", flags);
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 0);
    EXPECT_EQ(a.from(first), (Words{"-f", "x"}));
}

TEST(ShellOptions, NoOperandsGivesCount) {
    sim::SimFirmware fw;
    Args a({"ls", "-l"});
    uint8_t flags[1] = {};
    EXPECT_EQ(parse_options(a.count(), a.vector.data(), "l", flags), 2);
    Args b({"ls"});
    EXPECT_EQ(parse_options(b.count(), b.vector.data(), "l", flags), 1);
}

TEST(ShellOptions, UnknownLetterPrintsMessageAndUsage) {
    sim::SimFirmware fw;
    register_commands(kTool, 1);
    Args a({"tool", "-rx", "f"});
    uint8_t flags[2] = {};
    EXPECT_EQ(parse_options(a.count(), a.vector.data(), "rf", flags), -1);
    std::string errors = fw.screen().text_in_foreground(kErrorColour);
    EXPECT_NE(errors.find("tool: unknown option -x"), std::string::npos) << errors;
    EXPECT_NE(errors.find("usage: tool [-r] [-f] FILE..."), std::string::npos) << errors;
}

TEST(ShellOptions, UnknownLetterWithoutUsageText) {
    sim::SimFirmware fw;
    Args a({"plain", "-z"});
    uint8_t flags[1] = {};
    EXPECT_EQ(parse_options(a.count(), a.vector.data(), "a", flags), -1);
    std::string errors = fw.screen().text_in_foreground(kErrorColour);
    EXPECT_NE(errors.find("plain: unknown option -z"), std::string::npos);
    EXPECT_EQ(errors.find("usage:"), std::string::npos);
}

}  // namespace
