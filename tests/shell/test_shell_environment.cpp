// Environment variables and aliases: the set and alias commands, the firmware copies,
// and what start-up loads.
#include <string>

#include "runtime/memory.h"
#include "command_test.h"
#include "uefi/guids.h"

using namespace tarn;
using namespace tarn_test;

namespace {

const efi::Guid& kEnv = efi::kShellVariableGuid;
const efi::Guid& kAlias = efi::kShellAliasGuid;
constexpr uint32_t kNvBs = 3;

std::vector<uint8_t> ucs2(const std::u16string& text, bool nul = true) {
    std::vector<uint8_t> out;
    for (char16_t u : text) {
        out.push_back(static_cast<uint8_t>(u & 0xff));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    if (nul) out.insert(out.end(), {0, 0});
    return out;
}

std::string get(const char* name) {
    char* value = get_variable(name);
    std::string s = value ? value : "(none)";
    release(value);
    return s;
}

TEST(ShellEnvironment, DefaultListing) {
    CommandShell sh;
    RunResult r = sh.run("set");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "R cwd                = fs0:\\\n"
              "R lasterror          = 0x0\n"
              "V path               = .;fs0:\\efi\\tools;fs0:\\efi\\boot;fs0:\\\n"
              "V profiles           = ;TARN;\n"
              "R tarnversion        = 0.2.1\n"
              "R uefishellsupport   = 3\n"
              "R uefishellversion   = 2.2\n"
              "R uefiversion        = 2.7\n"
              "(V: temporary, R: read-only, others are kept in the firmware)\n")
        << r.out;
    EXPECT_EQ(sh.store().count(kEnv), 0u);  // defaults are not written to the firmware
}

TEST(ShellEnvironment, UefiVersionText) {
    CommandShell sh;
    sh.fw.system_table()->hdr.revision = (2u << 16) | 70;
    EXPECT_EQ(get("uefiversion"), "2.7");
    sh.fw.system_table()->hdr.revision = (2u << 16) | 31;
    EXPECT_EQ(get("uefiversion"), "2.3.1");
    sh.fw.system_table()->hdr.revision = (1u << 16) | 10;
    EXPECT_EQ(get("uefiversion"), "1.1");
}

TEST(ShellEnvironment, PermanentVariablesSurviveARestart) {
    CommandShell sh;
    EXPECT_EQ(sh.run("set X hello   world").code, 0);
    const sim::StoredVariable* v = sh.store().find(std::string("X"), kEnv);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->attributes, kNvBs);
    EXPECT_EQ(v->data, ucs2(u"hello world"));
    sh.reboot();
    RunResult r = sh.run("set X");
    EXPECT_EQ(r.out, "hello world\n");
    EXPECT_NE(sh.run("set").out.find("  X                  = hello world\n"), std::string::npos);
    // Made temporary: the firmware copy goes.
    EXPECT_EQ(sh.run("set -v X 1").code, 0);
    EXPECT_FALSE(sh.store().find(std::string("X"), kEnv));
    EXPECT_NE(sh.run("set").out.find("V X                  = 1\n"), std::string::npos);
    sh.reboot();
    EXPECT_EQ(sh.run("set X").errors, "set: X: no such variable\n");
}

TEST(ShellEnvironment, NamesIgnoreCase) {
    CommandShell sh;
    EXPECT_EQ(sh.run("SET path a;b").code, 0);
    EXPECT_EQ(sh.run("set PATH").out, "a;b\n");
    // The stored copy keeps the name as first written.
    EXPECT_EQ(sh.run("set Home x").code, 0);
    EXPECT_EQ(sh.run("set HOME y").code, 0);
    EXPECT_EQ(sh.store().text("Home", kEnv), "y");
    EXPECT_FALSE(sh.store().find(std::string("HOME"), kEnv));
    EXPECT_EQ(sh.run("set -d hOmE").code, 0);
    EXPECT_EQ(sh.store().count(kEnv), 1u);  // path is left
}

TEST(ShellEnvironment, ReadOnlyAndInvalidNames) {
    CommandShell sh;
    RunResult r = sh.expect_failure("set lasterror 5", 1, "set: lasterror: read-only variable\n");
    EXPECT_EQ(sh.run("set -d CWD").errors, "set: CWD: read-only variable\n");
    sh.expect_failure("set A=B x", 1, "set: A=B: invalid variable name\n");
    r = sh.run("set \"a b\" x");
    EXPECT_EQ(r.errors, "set: a b: invalid variable name\n");
    r = sh.run("set \"\" x");
    EXPECT_EQ(r.errors, "set: : invalid variable name\n");
    EXPECT_EQ(sh.run("tret 127").code, 127);
    EXPECT_EQ(sh.run("set lasterror").out, "0x7f\n");
}

TEST(ShellEnvironment, SetOptions) {
    CommandShell sh;
    RunResult r = sh.expect_failure("set -x", 2, "set: unknown option -x\nusage: set [-v] [NAME [VALUE...]] | set -d NAME\n");
    EXPECT_EQ(sh.run("set -xyz 1").code, 0);
    EXPECT_EQ(sh.run("set -xyz").out, "1\n");
    EXPECT_EQ(sh.run("set -d").code, 2);
    EXPECT_EQ(sh.run("set -d a b").code, 2);
    sh.expect_failure("set -d missing", 1, "set: missing: no such variable\n");
    sh.expect_failure("set missing", 1, "set: missing: no such variable\n");
    // -v alone lists.
    EXPECT_NE(sh.run("set -v").out.find("R cwd"), std::string::npos);
}

TEST(ShellEnvironment, DataRecords) {
    CommandShell sh;
    sh.run("set -v T one");
    RunResult r = sh.run("set -data");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.find("(V: temporary"), std::string::npos);
    EXPECT_NE(r.out.find("\n\nname=T\nvalue=one\nkind=temporary\n\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(0, 9), "name=cwd\n");
    sh.run("set P two");
    EXPECT_NE(sh.run("set -data").out.find("name=P\nvalue=two\nkind=permanent\n"),
              std::string::npos);
}

TEST(ShellEnvironment, FirmwareRefusesTheWrite) {
    CommandShell sh;
    sh.store().refuse_writes(efi::kWriteProtected);
    RunResult r = sh.expect_failure("set X 1", 1, "set: X: cannot store the variable in the firmware (NVRAM)\n");
    EXPECT_FALSE(variable_exists("X"));
    // A full store is a refusal too; the old value stays.
    sh.store().refuse_writes(0);
    ASSERT_EQ(sh.run("set Y old").code, 0);
    sh.store().set_capacity(sh.store().used());
    r = sh.run("set Y a-longer-value");
    EXPECT_EQ(r.errors, "set: Y: cannot store the variable in the firmware (NVRAM)\n");
    EXPECT_EQ(get("Y"), "old");
    EXPECT_EQ(sh.store().text("Y", kEnv), "old");
}

TEST(ShellEnvironment, FirmwareRefusesTheDelete) {
    CommandShell sh;
    ASSERT_EQ(sh.run("set X keep").code, 0);
    sh.store().refuse_deletes(efi::kWriteProtected);
    RunResult r = sh.expect_failure("set -d X", 1, "set: X: cannot delete the variable from the firmware (NVRAM)\n");
    EXPECT_EQ(get("X"), "keep");
    EXPECT_TRUE(variable_is_permanent("X"));
    sh.expect_failure("set -v X temp", 1, "set: X: cannot delete the variable from the firmware (NVRAM)\n");
    EXPECT_EQ(get("X"), "keep");
    EXPECT_TRUE(variable_is_permanent("X"));
    EXPECT_EQ(sh.store().text("X", kEnv), "keep");
    // A stored copy someone else removed counts as deleted.
    sh.store().refuse_deletes(0);
    sh.store().erase("X", kEnv);
    EXPECT_EQ(sh.run("set -d X").code, 0);
    EXPECT_FALSE(variable_exists("X"));
}

TEST(ShellEnvironment, ControlCharactersInValues) {
    CommandShell sh;
    sh.expect_failure("set X a\x01" "b", 1, "set: X: invalid variable value\n");
    EXPECT_FALSE(variable_exists("X"));
    EXPECT_EQ(sh.store().count(kEnv), 0u);
    EXPECT_STREQ(set_variable("X", "a\x1b[31m", true), "invalid variable value");
    EXPECT_STREQ(set_variable("X", "\xff\xfe", true), "invalid variable value");  // not UTF-8
    EXPECT_STREQ(set_variable("X", "\xf0\x9f\x98\x80", true), "invalid variable value");
    EXPECT_STREQ(set_variable("B\x07", "x", false), "invalid variable name");
    // Tabs, line ends and non-ASCII text are kept.
    EXPECT_EQ(set_variable("T", "a\tb\r\nc \xc3\xa9", true), nullptr);
    sh.reboot();
    EXPECT_EQ(get("T"), "a\tb\r\nc \xc3\xa9");
}

TEST(ShellEnvironment, StoredDataThatIsNotTextStaysInTheFirmware) {
    CommandShell sh(1, false);
    auto& store = sh.store();
    store.put(u"Good", kEnv, kNvBs, ucs2(u"fine"));
    store.put(u"Odd", kEnv, kNvBs, {0x41, 0x00, 0x42});
    store.put(u"Short", kEnv, kNvBs, {0x41});
    store.put(u"Empty", kEnv, kNvBs, {});
    store.put(u"Binary", kEnv, kNvBs, {0x01, 0x00, 0x02, 0x00, 0x00, 0x00});
    store.put(u"Surrogate", kEnv, kNvBs, {0x3d, 0xd8, 0x00, 0x00});
    store.put(u"Volatile", kEnv, efi::kVariableBootserviceAccess, ucs2(u"v"));
    store.put(u"cwd", kEnv, kNvBs, ucs2(u"fs7:\\"));
    store.put(u"has space", kEnv, kNvBs, ucs2(u"x"));
    store.put(u"a=b", kEnv, kNvBs, ucs2(u"x"));
    store.put(u"NoNul", kEnv, kNvBs, ucs2(u"abc", false));
    store.put(u"Tail", kEnv, kNvBs, {0x61, 0x00, 0x00, 0x00, 0x01, 0x00});  // "a", NUL, junk
    store.put(u"Rt", kEnv, kNvBs | efi::kVariableRuntimeAccess, ucs2(u"rt"));
    const size_t stored = store.count();
    load_environment();
    EXPECT_EQ(get("Good"), "fine");
    EXPECT_EQ(get("NoNul"), "abc");
    EXPECT_EQ(get("Tail"), "a");
    EXPECT_EQ(get("Rt"), "rt");
    EXPECT_EQ(get("Empty"), "(none)");  // size 0: a delete in this firmware, never loaded
    for (const char* name : {"Odd", "Short", "Binary", "Surrogate", "Volatile", "has space", "a=b"})
        EXPECT_FALSE(variable_exists(name)) << name;
    EXPECT_EQ(get("cwd"), "fs0:\\");
    EXPECT_EQ(store.count(), stored);  // nothing was removed
    RunResult r = sh.run("set");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.find("Binary"), std::string::npos);
    // A stored variable with other attributes is rewritten with them.
    EXPECT_EQ(sh.run("set Rt new").code, 0);
    EXPECT_EQ(store.text("Rt", kEnv), "new");
    EXPECT_EQ(store.find(std::string("Rt"), kEnv)->attributes, kNvBs | efi::kVariableRuntimeAccess);
    // A volatile copy under the same name is replaced by a stored one.
    EXPECT_EQ(sh.run("set Volatile kept").code, 0);
    EXPECT_EQ(store.find(std::string("Volatile"), kEnv)->attributes, kNvBs);
}

TEST(ShellEnvironment, StoredPathReplacesTheDefault) {
    CommandShell sh(1, false);
    sh.store().put_text("path", kEnv, "fs0:\\bin");
    sh.store().put_text("PATH", kEnv, "second");  // same name in another case: first wins
    load_environment();
    EXPECT_EQ(get("path"), "fs0:\\bin");
    EXPECT_TRUE(variable_is_permanent("path"));
    EXPECT_EQ(get("profiles"), ";TARN;");
    EXPECT_FALSE(variable_is_permanent("profiles"));
}

TEST(ShellEnvironment, Overrides) {
    CommandShell sh;
    sh.run("set -v A base");
    push_override("a", "over");
    EXPECT_EQ(get("A"), "over");
    push_override("A", nullptr);
    EXPECT_EQ(get("a"), "(none)");
    EXPECT_FALSE(variable_exists("a"));
    push_override("lasterror", "shadow");
    EXPECT_EQ(get("lasterror"), "shadow");
    pop_overrides(2);
    EXPECT_EQ(get("A"), "over");
    pop_overrides(5);
    EXPECT_EQ(get("A"), "base");
    EXPECT_EQ(get("lasterror"), "0x0");
}

TEST(ShellAlias, DefineShowAndList) {
    CommandShell sh;
    EXPECT_EQ(sh.run("alias ll targs -l").code, 0);
    EXPECT_EQ(sh.run("alias ll").out, "targs -l\n");
    EXPECT_EQ(sh.store().text("ll", kAlias), "targs -l");
    EXPECT_EQ(sh.run("alias g grep \"a b\"").code, 0);
    EXPECT_EQ(sh.run("alias g").out, "grep \"a b\"\n");
    EXPECT_EQ(sh.run("alias -v t targs").code, 0);
    RunResult r = sh.run("alias");
    EXPECT_NE(r.out.find("V copy         = cp\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  g            = grep \"a b\"\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  ll           = targs -l\n"), std::string::npos);
    EXPECT_NE(r.out.find("V t            = targs\n"), std::string::npos);
    EXPECT_LT(r.out.find("copy"), r.out.find("  g "));
    r = sh.run("alias -data");
    EXPECT_NE(r.out.find("name=ll\nvalue=targs -l\nkind=permanent\n"), std::string::npos);
    EXPECT_NE(r.out.find("name=t\nvalue=targs\nkind=temporary\n"), std::string::npos);
}

TEST(ShellAlias, WordsSplitBackTheSame) {
    CommandShell sh;
    EXPECT_EQ(sh.run("alias q targs \"say \"\"hi\"\" now\" \"\" \"x\"\"y\"").code, 0);
    EXPECT_EQ(sh.run("alias q").out, "targs \"say \"\"hi\"\" now\" \"\" \"x\"\"y\"\n");
    sh.run("q more");
    EXPECT_EQ(calls().commands.back(),
              (std::vector<std::string>{"targs", "say \"hi\" now", "", "x\"y", "more"}));
}

TEST(ShellAlias, Errors) {
    CommandShell sh;
    RunResult r = sh.expect_failure("alias set dir", 1, "alias: set: a built-in command has this name\n");
    r = sh.run("alias fs0: x");
    EXPECT_EQ(r.errors, "alias: fs0:: invalid alias name\n");
    for (const char* bad : {"a\\b", "a/b", "\"a\"\"b\""}) {
        r = sh.run(std::string("alias ") + bad + " x");
        EXPECT_NE(r.errors.find("invalid alias name"), std::string::npos) << bad;
    }
    sh.expect_failure("alias -d", 2, "usage: alias [-v] [NAME [COMMAND...]] | alias -d NAME\n");
    EXPECT_EQ(sh.run("alias -q").code, 2);
    sh.expect_failure("alias -d X more", 1, "alias: X: usage\n");
    r = sh.run("alias -d nope");
    EXPECT_EQ(r.errors, "alias: nope: no such alias\n");
    sh.expect_failure("alias nope", 1, "alias: nope: no such alias\n");
    EXPECT_STREQ(set_alias("x", "targs", false, false), nullptr);
    EXPECT_STREQ(set_alias("X", "targs", false, false), "the alias already exists");
    EXPECT_STREQ(set_alias("y", "a\x01", false, true), "invalid alias value");
}

TEST(ShellAlias, FirmwareRefusals) {
    CommandShell sh;
    sh.store().refuse_writes(efi::kOutOfResources);
    RunResult r = sh.run("alias ll targs");
    EXPECT_EQ(r.errors, "alias: ll: cannot store the alias in the firmware (NVRAM)\n");
    EXPECT_EQ(find_alias("ll", nullptr), nullptr);
    sh.store().refuse_writes(0);
    ASSERT_EQ(sh.run("alias ll targs").code, 0);
    sh.store().refuse_deletes(efi::kDeviceError);
    sh.expect_failure("alias -d ll", 1, "alias: ll: cannot delete the variable from the firmware (NVRAM)\n");
    EXPECT_STREQ(find_alias("ll", nullptr), "targs");
    r = sh.run("alias -v ll other");
    EXPECT_EQ(r.code, 1);
    EXPECT_STREQ(find_alias("ll", nullptr), "targs");
    EXPECT_EQ(sh.store().text("ll", kAlias), "targs");
}

TEST(ShellAlias, StartUpLoadsStoredAliases) {
    CommandShell sh(1, false);
    auto& store = sh.store();
    store.put_text("copy", kAlias, "targs stored");
    store.put_text("set", kAlias, "targs hijack");  // a command's name: ignored
    store.put_text("bad:name", kAlias, "x");
    store.put(u"bin", kAlias, kNvBs, {0x07, 0x00, 0x00, 0x00});
    store.put_text("mine", kAlias, "targs m");
    load_environment();
    bool permanent = false;
    EXPECT_STREQ(find_alias("copy", &permanent), "targs stored");
    EXPECT_TRUE(permanent);
    EXPECT_STREQ(find_alias("ren", &permanent), "mv");
    EXPECT_FALSE(permanent);
    EXPECT_STREQ(find_alias("mine", nullptr), "targs m");
    EXPECT_EQ(find_alias("set", nullptr), nullptr);
    EXPECT_EQ(find_alias("bad:name", nullptr), nullptr);
    EXPECT_EQ(find_alias("bin", nullptr), nullptr);
    EXPECT_EQ(store.count(kAlias), 5u);
    // A default alias that a stored one did not replace is not written anywhere.
    EXPECT_FALSE(store.find(std::string("ren"), kAlias));
    RunResult r = sh.run("set -data");  // set is still the command
    EXPECT_EQ(r.code, 0);
}

TEST(ShellAlias, NoDefaultAliasOverACommand) {
    CommandShell sh;
    // "copy" is a default alias only while no command has that name.
    EXPECT_STREQ(find_alias("copy", nullptr), "cp");
    EXPECT_STREQ(find_alias("MOVE", nullptr), "mv");
    EXPECT_STREQ(find_alias("rd", nullptr), "rmdir");
    NameList names = alias_names();
    ASSERT_EQ(names.count, 4u);
    EXPECT_STREQ(names[0], "copy");
    EXPECT_STREQ(names[3], "ren");
}

}  // namespace
