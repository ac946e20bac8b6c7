// The command registry.
#include <gtest/gtest.h>

#include "runtime/output.h"
#include "shell/registry.h"
#include "sim.h"

using namespace tarn;

namespace {

int nop(int, char**) { return 0; }

const CommandDescriptor kFirst[] = {
    {"zeta", nop, "zeta FILE", "z", nullptr, 0},
    {"ls", nop, "ls [-l] [PATH...]", "list", nullptr, kCommandStructuredOutput},
};
const CommandDescriptor kSecond[] = {
    {"cp", nop, nullptr, "copy", nullptr, 0},
    {"alpha", nop, "alpha", "a", nullptr, 0},
    {"ls2", nop, "ls2", "l2", nullptr, 0},
};

TEST(ShellRegistry, SortedWhateverTheRegistrationOrder) {
    sim::SimFirmware fw;
    register_commands(kFirst, 2);
    register_commands(kSecond, 3);
    ASSERT_EQ(command_count(), 5u);
    const char* expected[] = {"alpha", "cp", "ls", "ls2", "zeta"};
    for (uint64_t i = 0; i < 5; i++) EXPECT_STREQ(command_at(i)->name, expected[i]);
    EXPECT_EQ(command_at(5), nullptr);
}

TEST(ShellRegistry, FindIgnoresCaseButNotExtensionsOrPrefixes) {
    sim::SimFirmware fw;
    register_commands(kFirst, 2);
    EXPECT_EQ(find_command("ls"), &kFirst[1]);
    EXPECT_EQ(find_command("LS"), &kFirst[1]);
    EXPECT_EQ(find_command("Ls"), &kFirst[1]);
    EXPECT_EQ(find_command("ls.efi"), nullptr);
    EXPECT_EQ(find_command("l"), nullptr);
    EXPECT_EQ(find_command("zet"), nullptr);
    EXPECT_EQ(find_command(""), nullptr);
    EXPECT_EQ(find_command(nullptr), nullptr);
}

TEST(ShellRegistry, UsageLookupServesReportUsage) {
    sim::SimFirmware fw;
    register_commands(kFirst, 2);
    register_commands(kSecond, 3);
    EXPECT_STREQ(usage_of("ZETA"), "zeta FILE");
    EXPECT_EQ(usage_of("cp"), nullptr);
    EXPECT_EQ(usage_of("missing"), nullptr);
    EXPECT_EQ(report_usage("zeta"), 2);
    EXPECT_EQ(report_usage("cp"), 2);
    std::string errors = fw.screen().text_in_foreground(kErrorColour);
    EXPECT_NE(errors.find("usage: zeta FILE"), std::string::npos) << errors;
    EXPECT_NE(errors.find("usage: cp"), std::string::npos) << errors;
}

TEST(ShellRegistry, ResetEmptiesIt) {
    sim::SimFirmware fw;
    register_commands(kSecond, 3);
    reset_registry();
    EXPECT_EQ(command_count(), 0u);
    EXPECT_EQ(find_command("cp"), nullptr);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

}  // namespace
