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

// ---- option tables ----

struct Got {
    bool v = false, d = false, all = false;
    const char* g = nullptr;
    const char* a = nullptr;
    const char* t = nullptr;
};

// The grammars the command families use, one table each.
constexpr Option<Got> kVarLike[] = {  // -g -a -t values, exact case; -v switch
    value_option("g", &Got::g, kOptionPositionalAtEnd), value_option("a", &Got::a, kOptionPositionalAtEnd),
    value_option("t", &Got::t, kOptionPositionalAtEnd), switch_option("v", &Got::v)};
constexpr Option<Got> kShellLike[] = {  // -guid value, -all, any case, whole words
    value_option("guid", &Got::g, kOptionAnyCase), switch_option("all", &Got::all, kOptionAnyCase),
    switch_option("d", &Got::d, kOptionAnyCase)};
constexpr Option<Got> kDriverLike[] = {  // -l value, -verbose = -v, letters clustered, -b ignored
    value_option("l", &Got::g, kOptionAnyCase), switch_option("verbose", &Got::v, kOptionAnyCase),
    switch_option("v", &Got::v, kOptionAnyCase), switch_option("d", &Got::d, kOptionAnyCase),
    ignored_option<Got>("b")};
constexpr Option<Got> kListLike[] = {  // -a alone or -aLETTERS
    switch_option("l", &Got::v), value_option("a", &Got::a, kOptionAnyCase | kOptionAttachedValue)};

struct TableCase {
    int table;
    uint32_t flags;
    Words words;
    const char* fields;  // what Got holds afterwards, or null for a usage error
    Words operands;
};

std::string describe(const Got& g) {
    std::string s;
    if (g.v) s += "v ";
    if (g.d) s += "d ";
    if (g.all) s += "all ";
    if (g.g) s += std::string("g=") + g.g + " ";
    if (g.a) s += std::string("a=") + g.a + " ";
    if (g.t) s += std::string("t=") + g.t + " ";
    return s;
}

int parse_with(int table, int count, char** vector, uint32_t flags, Got* got) {
    switch (table) {
        case 0: return parse_options(count, vector, kVarLike, flags, got);
        case 1: return parse_options(count, vector, kShellLike, flags, got);
        case 2: return parse_options(count, vector, kDriverLike, flags, got);
        default: return parse_options(count, vector, kListLike, flags, got);
    }
}

TEST(ShellOptions, TablesOfRows) {
    const uint32_t word = kOptionsNameWord;
    const TableCase cases[] = {
        {0, word, {"var", "get", "X", "-g", "SHIM", "-v"}, "v g=SHIM ", {"get", "X"}},
        {0, word, {"var", "set", "-t", "u16", "X", "-5"}, "t=u16 ", {"set", "X", "-5"}},
        {0, word, {"var", "get", "-G", "x"}, nullptr, {}},                   // exact case
        {0, word, {"var", "list", "-g"}, "", {"list", "-g"}},                // value at the end
        {0, word, {"var", "-g", "a", "-g", "b"}, "g=b ", {}},                // the last one wins
        {0, word, {"var", "x", "--", "-g", "y"}, "", {"x", "-g", "y"}},
        {1, word, {"dmpstore", "-GUID", "gv", "-ALL", "N*"}, "all g=gv ", {"N*"}},
        {1, word, {"dmpstore", "-guid"}, nullptr, {}},                       // value missing
        {1, word, {"dmpstore", "-da"}, nullptr, {}},                         // no clusters
        {2, kOptionsClusters, {"dh", "-vd", "-l", "eng", "1A"}, "v d g=eng ", {"1A"}},
        {2, kOptionsClusters, {"dh", "-VERBOSE", "-b", "-leng"}, "v g=eng ", {}},
        {2, kOptionsClusters, {"dh", "-vx"}, nullptr, {}},
        {3, kOptionsClusters | word, {"ls", "-la", "-ahs", "p"}, "v a=hs ", {"p"}},
        {3, kOptionsClusters | word, {"ls", "-A"}, "a= ", {}},
        {0, kOptionsLeading | word, {"head", "-v", "f", "-g", "x"}, "v ", {"f", "-g", "x"}},
        {0, kOptionsOthersPositional, {"boot", "-driver", "-v", "-q"}, "v ", {"-driver", "-q"}},
        {1, kOptionsEndAtEquals | word, {"setvar", "N", "-d", "=-all", "-d"}, "d ", {"N", "=-all", "-d"}},
    };
    for (const TableCase& c : cases) {
        sim::SimFirmware fw;
        Args args(c.words);
        Got got;
        const int first = parse_with(c.table, args.count(), args.vector.data(), c.flags, &got);
        const std::string line = ::testing::PrintToString(c.words);
        if (!c.fields) {
            EXPECT_EQ(first, -1) << line;
            continue;
        }
        ASSERT_GE(first, 1) << line;
        EXPECT_EQ(describe(got), c.fields) << line;
        EXPECT_EQ(args.from(first), c.operands) << line;
    }
}

TEST(ShellOptions, UnknownWordIsNamedWhole) {
    sim::SimFirmware fw;
    register_commands(kTool, 1);
    Args a({"tool", "-frob"});
    Got got;
    EXPECT_EQ(parse_options(a.count(), a.vector.data(), kShellLike, kOptionsNameWord, &got), -1);
    const std::string errors = fw.screen().text_in_foreground(kErrorColour);
    EXPECT_NE(errors.find("tool: unknown option -frob"), std::string::npos) << errors;
    EXPECT_NE(errors.find("usage: tool"), std::string::npos) << errors;
}

}  // namespace
