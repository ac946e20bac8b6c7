// Whole command lines that reach the file layer: output redirection into files on the
// simulated volumes and switching the current volume.
#include "command_test.h"

using namespace tarn;
using namespace tarn_test;

namespace {

TEST(FsRedirect, WritesTruncatesAndAppends) {
    CommandShell sh(2);
    EXPECT_EQ(sh.run("targs one two > out.txt").code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[0], "\\out.txt"), "[one]\n[two]\n");
    EXPECT_EQ(sh.run("targs three >> OUT.TXT").code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[0], "\\out.txt"), "[one]\n[two]\n[three]\n");
    EXPECT_EQ(sh.run("targs four > fs0:/out.txt").code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[0], "\\out.txt"), "[four]\n");
    EXPECT_EQ(sim::stored_name(sh.fw, sh.volumes[0], "\\out.txt"), "out.txt");
    EXPECT_EQ(sh.run("targs five > fs1:\\.\\x\\..\\five.txt").code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "\\five.txt"), "[five]\n");
    EXPECT_EQ(sim::open_file_count(sh.fw), 0);
}

TEST(FsRedirect, ExtraNamesAndTheCurrentDirectory) {
    CommandShell sh(2);
    sim::add_directory(sh.fw, sh.volumes[1], "\\logs");
    ASSERT_EQ(tarn::set_extra_name("data", "fs1"), 0);
    EXPECT_EQ(sh.run("targs x > data:\\logs\\a.txt").code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "\\logs\\a.txt"), "[x]\n");
    EXPECT_EQ(sh.run("fs1:").code, 0);
    EXPECT_STREQ(tarn::current_directory(), "fs1:\\");
    EXPECT_EQ(sh.run("targs y > logs\\b.txt").code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "\\logs\\b.txt"), "[y]\n");
    sh.expect_failure("fs7:", 1, "no such volume");
    EXPECT_STREQ(tarn::current_directory(), "fs1:\\");
}

TEST(FsRedirect, FailuresTouchNothing) {
    CommandShell sh(1);
    sim::add_directory(sh.fw, sh.volumes[0], "\\dir");
    sim::add_file(sh.fw, sh.volumes[0], "\\ro.txt", "keep", 0x21);
    auto r = sh.run("targs a > dir");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.errors, "");
    EXPECT_TRUE(sim::is_directory(sh.fw, sh.volumes[0], "\\dir"));
    r = sh.run("targs a > ro.txt");
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[0], "\\ro.txt"), "keep");
    r = sh.run("targs a > fs4:\\x.txt");
    EXPECT_NE(r.code, 0);
    r = sh.run("targs a > nodir\\x.txt");
    EXPECT_NE(r.code, 0);
    r = sh.run("targs a > bad*name.txt");
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(sim::list_directory(sh.fw, sh.volumes[0], "\\").size(), 2u);
    EXPECT_EQ(tarn_test::calls().commands.size(), 0u);
    EXPECT_EQ(sim::open_file_count(sh.fw), 0);
}

TEST(FsRedirect, WriteErrorsAndAFullVolumeAreReported) {
    CommandShell sh(1);
    sim::fail_writes_after(sh.fw, sh.volumes[0], 0);
    auto r = sh.expect_failure("targs a > w.txt", 1, "w.txt");
    sim::fail_writes_after(sh.fw, sh.volumes[0], -1);
    sim::set_free_space(sh.fw, sh.volumes[0], 4);
    r = sh.run("targs abcdef > full.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.errors.find("volume full"), std::string::npos) << r.errors;
    EXPECT_EQ(sim::open_file_count(sh.fw), 0);
}

}  // namespace

// A target typed with a trailing separator names a directory: output never goes to a
// file of that name, whether or not the directory exists.
TEST(FsRedirect, ATargetEndingInASeparatorMustBeADirectory) {
    CommandShell sh(1);
    sim::add_directory(sh.fw, sh.volumes[0], "\\dir");
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"targs a > q\\", "fs0:\\q: not a directory\n"},
        {"targs a >> q/", "fs0:\\q: not a directory\n"},
        {"targs a > dir\\", "fs0:\\dir: is a directory\n"},
    };
    for (const Case& c : cases) {
        auto r = sh.run(c.line);
        EXPECT_EQ(r.code, 1) << c.line;
        EXPECT_EQ(r.errors, c.error) << c.line;
    }
    EXPECT_EQ(sim::list_directory(sh.fw, sh.volumes[0], "\\"), (std::vector<std::string>{"dir"}));
    EXPECT_TRUE(sim::list_directory(sh.fw, sh.volumes[0], "\\dir").empty());
    EXPECT_EQ(calls().commands.size(), 0u);
    EXPECT_EQ(sim::open_file_count(sh.fw), 0);
}
