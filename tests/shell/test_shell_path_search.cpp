// The path search for scripts and EFI applications, and the EFI executable check.
#include <string>

#include "runtime/memory.h"
#include "command_test.h"

using namespace tarn;
using namespace tarn_test;

namespace {

std::string found(const char* name) {
    char* path = find_executable(name);
    std::string s = path ? path : "(none)";
    release(path);
    return s;
}

std::string check(CommandShell& sh, const std::string& content) {
    sim::add_file(sh.fw, sh.volumes[0], "\\probe.bin", content);
    const char* message = check_efi_executable("fs0:\\probe.bin");
    return message ? message : "ok";
}

TEST(ShellPathSearch, ExtensionsTriedInOrderInEachDirectory) {
    CommandShell sh;
    auto fs0 = sh.volumes[0];
    ASSERT_EQ(sh.run("set -v path .;fs0:\\tools").code, 0);
    sim::add_file(sh.fw, fs0, "\\tools\\hello.tsb", "PRINT 1");
    sim::add_file(sh.fw, fs0, "\\tools\\hello.efi", pe_image());
    EXPECT_EQ(found("hello"), "fs0:\\tools\\hello.tsb");
    // The current directory comes first; .efi there beats .tsb further down the path.
    sim::add_file(sh.fw, fs0, "\\hello.efi", pe_image());
    EXPECT_EQ(found("hello"), "fs0:\\hello.efi");
    sim::add_file(sh.fw, fs0, "\\hello.tsb", "PRINT 2");
    EXPECT_EQ(found("hello"), "fs0:\\hello.tsb");
    EXPECT_EQ(found("HELLO"), "fs0:\\HELLO.tsb");  // names resolve as typed
    EXPECT_EQ(found("nothing"), "(none)");
}

TEST(ShellPathSearch, BareNamesMustBeEfiApplications) {
    CommandShell sh;
    auto fs0 = sh.volumes[0];
    ASSERT_EQ(sh.run("set -v path .;fs0:\\tools").code, 0);
    sim::add_file(sh.fw, fs0, "\\hello", "just some text\n");
    sim::add_file(sh.fw, fs0, "\\tools\\hello", pe_image());
    // The text file without extension is skipped; the application further on is taken.
    EXPECT_EQ(found("hello"), "fs0:\\tools\\hello");
    RunResult r = sh.run("hello a -data -b -sfo");
    EXPECT_EQ(r.code, 6);
    ASSERT_EQ(calls().images.size(), 1u);
    EXPECT_EQ(calls().images[0], "fs0:\\tools\\hello|a|-data|-b|-sfo");
    // A driver or a PE32 image without extension is skipped as well.
    sim::add_file(sh.fw, fs0, "\\tools\\drv", pe_image(0x8664, 0x20b, 11));
    sim::add_file(sh.fw, fs0, "\\tools\\old", pe_image(0x8664, 0x10b, 10));
    EXPECT_EQ(found("drv"), "(none)");
    EXPECT_EQ(found("old"), "(none)");
    // A directory is never a candidate.
    sim::add_directory(sh.fw, fs0, "\\tools\\dir.efi");
    EXPECT_EQ(found("dir"), "(none)");
}

TEST(ShellPathSearch, TypedExtensionIsTakenAsIs) {
    CommandShell sh;
    auto fs0 = sh.volumes[0];
    ASSERT_EQ(sh.run("set -v path fs0:\\tools").code, 0);
    sim::add_file(sh.fw, fs0, "\\tools\\tool.efi", "not even a PE file");
    sim::add_file(sh.fw, fs0, "\\tools\\tool.efi.tsb", "PRINT 1");
    EXPECT_EQ(found("tool.EFI"), "fs0:\\tools\\tool.EFI");
    RunResult r = sh.run("tool.EFI x");
    EXPECT_EQ(r.code, 6);
    ASSERT_EQ(calls().images.size(), 1u);
    sim::add_file(sh.fw, fs0, "\\tools\\RUN.TSB", "PRINT 1");
    r = sh.run("run.tsb y");
    EXPECT_EQ(r.code, 5);
    ASSERT_EQ(calls().scripts.size(), 1u);
    EXPECT_EQ(calls().scripts[0], "fs0:\\tools\\run.tsb|y");
}

TEST(ShellPathSearch, DirectoryPartLooksOnlyThere) {
    CommandShell sh;
    auto fs0 = sh.volumes[0];
    sim::add_file(sh.fw, fs0, "\\x\\tool.efi", pe_image());
    sim::add_file(sh.fw, fs0, "\\tool.tsb", "PRINT 1");
    EXPECT_EQ(found("fs0:\\x\\tool"), "fs0:\\x\\tool.efi");
    EXPECT_EQ(found("x\\tool"), "fs0:\\x\\tool.efi");
    EXPECT_EQ(found("x/tool.efi"), "fs0:\\x\\tool.efi");
    EXPECT_EQ(found("fs0:\\y\\tool"), "(none)");
    EXPECT_EQ(found("fs9:\\x\\tool"), "(none)");
}

TEST(ShellPathSearch, DefaultPathAndUnsetPath) {
    CommandShell sh;
    auto fs0 = sh.volumes[0];
    sim::add_file(sh.fw, fs0, "\\efi\\boot\\boot.efi", pe_image());
    EXPECT_EQ(found("boot"), "fs0:\\efi\\boot\\boot.efi");
    sim::add_file(sh.fw, fs0, "\\top.tsb", "PRINT 1");
    ASSERT_EQ(sh.run("set -d path").code, 0);
    EXPECT_EQ(found("top"), "fs0:\\top.tsb");
    EXPECT_EQ(found("boot"), "(none)");
    // Empty elements and ".\" work as they should.
    ASSERT_EQ(sh.run("set -v path ;;.\\;").code, 0);
    EXPECT_EQ(found("top"), "fs0:\\top.tsb");
}

TEST(ShellPathSearch, RunnersNotInstalledAreReported) {
    CommandShell sh;
    sim::add_file(sh.fw, sh.volumes[0], "\\s.tsb", "PRINT 1");
    sim::add_file(sh.fw, sh.volumes[0], "\\app.efi", pe_image());
    set_script_runner(nullptr);
    set_image_runner(nullptr);
    RunResult r = sh.run("s");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors,
              "fs0:\\s.tsb: cannot run the script: the BASIC interpreter is not available\n");
    r = sh.run("app");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors,
              "fs0:\\app.efi: cannot start the image: the image launcher is not available\n");
    EXPECT_EQ(last_error(), 1);
}

TEST(ShellPathSearch, EfiExecutableChecks) {
    CommandShell sh;
    EXPECT_EQ(check(sh, pe_image()), "ok");
    EXPECT_EQ(check(sh, pe_image(0x8664, 0x10b)), "not a PE32+ image");
    EXPECT_EQ(check(sh, pe_image(0x8664, 0x20b, 11)),
              "not an EFI application (driver or other subsystem)");
    EXPECT_EQ(check(sh, pe_image(0x8664, 0x20b, 12)),
              "not an EFI application (driver or other subsystem)");
    EXPECT_EQ(check(sh, pe_image(0x014c)), "the executable is not for x86_64");
    EXPECT_EQ(check(sh, "hello world, this is a text file and not an executable at all....."),
              "not an EFI executable (no MZ header)");
    EXPECT_EQ(check(sh, "MZ"), "not an EFI executable (no MZ header)");
    EXPECT_EQ(check(sh, pe_image().substr(0, 63)), "not an EFI executable (no MZ header)");
    EXPECT_EQ(check(sh, ""), "not an EFI executable (no MZ header)");
    // The PE header must lie within the bytes read (the first 1024).
    EXPECT_EQ(check(sh, pe_image(0x8664, 0x20b, 10, 0x80, 0x80 + 0x5d)),
              "not an EFI executable (no PE header)");
    EXPECT_EQ(check(sh, pe_image(0x8664, 0x20b, 10, 0x80, 0x80 + 0x5e)), "ok");
    EXPECT_EQ(check(sh, pe_image(0x8664, 0x20b, 10, 0x3b0, 2048)),
              "not an EFI executable (no PE header)");
    std::string huge = pe_image();
    huge[0x3c] = huge[0x3d] = huge[0x3e] = huge[0x3f] = '\xff';  // e_lfanew near 4 GiB
    EXPECT_EQ(check(sh, huge), "not an EFI executable (no PE header)");
    std::string no_signature = pe_image();
    no_signature[0x82] = 'X';
    EXPECT_EQ(check(sh, no_signature), "not an EFI executable (no PE header)");
    EXPECT_STREQ(check_efi_executable("fs0:\\missing.efi"), "cannot read the file");
    EXPECT_STREQ(check_efi_executable(nullptr), "cannot read the file");
    sim::add_file(sh.fw, sh.volumes[0], "\\locked.efi", pe_image());
    sim::inject_file_error(sh.fw, sh.volumes[0], sim::FileOp::Read, efi::kDeviceError);
    EXPECT_STREQ(check_efi_executable("fs0:\\locked.efi"), "cannot read the file");
    EXPECT_EQ(sim::open_file_count(sh.fw), 0);
}

}  // namespace
