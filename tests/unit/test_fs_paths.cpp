// Path resolution, path pieces and wildcard expansion.
#include <vector>

#include "runtime/output.h"
#include "test_fs_support.h"

using namespace tarn;
using fs_test::FsTest;
using fs_test::take_text;

namespace {

class PathTest : public FsTest {
protected:
    sim::VolumeId v0 = 0, v1 = 0, v2 = 0;
    void SetUp() override {
        FsTest::SetUp();
        v0 = add(1, "BOOT");
        v1 = add(2, "DATA");
        v2 = add(3, "USB");
        sim::add_directory(fw, v0, "\\EFI\\Boot");
        sim::add_directory(fw, v0, "\\dir");
        sim::set_boot_volume(fw, v0);
        initialize_volumes();
    }
    std::vector<std::string> expand(const char* path) {
        PathList list;
        EXPECT_EQ(expand_pattern(path, list), 0);
        std::vector<std::string> out;
        for (uint64_t i = 0; i < list.count; i++) out.push_back(list[i]);
        return out;
    }
};

TEST_F(PathTest, VolumeReferences) {
    EXPECT_EQ(resolve("fs0:"), "fs0:\\");
    EXPECT_EQ(resolve("FS1:"), "fs1:\\");
    EXPECT_EQ(resolve("fs0:efi"), "fs0:\\efi");
    EXPECT_EQ(resolve("fs2:/a/b"), "fs2:\\a\\b");
    EXPECT_EQ(resolve("FS0:\\EFI\\..\\Boot\\.\\x"), "fs0:\\Boot\\x");
    // Components keep their case and wildcards.
    EXPECT_EQ(resolve("fs1:\\Some Dir\\*.TXT"), "fs1:\\Some Dir\\*.TXT");
}

TEST_F(PathTest, MissingVolumesResolveToNothing) {
    EXPECT_EQ(resolve("fs3:\\x"), "(null)");
    EXPECT_EQ(resolve("fs:x"), "(null)");
    EXPECT_EQ(resolve(":x"), "(null)");
    EXPECT_EQ(resolve("fs00:"), "(null)");
    EXPECT_EQ(resolve("fs0 :"), "(null)");
    EXPECT_EQ(resolve("blk0:"), "(null)");
}

TEST_F(PathTest, DotDotAtARootStaysThere) {
    EXPECT_EQ(resolve(".."), "fs0:\\");
    EXPECT_EQ(resolve("fs0:\\..\\..\\a"), "fs0:\\a");
    EXPECT_EQ(resolve("fs1:.."), "fs1:\\");
    ASSERT_EQ(change_directory("fs0:\\EFI\\Boot"), 0);
    EXPECT_EQ(resolve("..\\..\\..\\x"), "fs0:\\x");
    EXPECT_EQ(resolve("..\\x"), "fs0:\\EFI\\x");
}

TEST_F(PathTest, RelativePathsAndSeparatorMixtures) {
    ASSERT_EQ(change_directory("fs0:\\dir"), 0);
    EXPECT_EQ(std::string(current_directory()), "fs0:\\dir");
    EXPECT_EQ(resolve("a//b\\\\\\c/"), "fs0:\\dir\\a\\b\\c");
    EXPECT_EQ(resolve("a/\\/b"), "fs0:\\dir\\a\\b");
    EXPECT_EQ(resolve(""), "fs0:\\dir");
    EXPECT_EQ(resolve("."), "fs0:\\dir");
    EXPECT_EQ(resolve("./"), "fs0:\\dir");
    EXPECT_EQ(resolve("\\x"), "fs0:\\x");
    EXPECT_EQ(resolve("/x/"), "fs0:\\x");
    EXPECT_EQ(resolve("\\\\//"), "fs0:\\");
    // A colon after the first separator is part of a name, not a volume reference.
    EXPECT_EQ(resolve("sub\\fs1:x"), "fs0:\\dir\\sub\\fs1:x");
    EXPECT_EQ(resolve("...\\x"), "fs0:\\dir\\...\\x");
}

TEST_F(PathTest, LongPaths) {
    std::string deep = "fs0:";
    for (int i = 0; i < 3000; i++) deep += "\\abc";
    std::string expected = "fs0:";
    for (int i = 0; i < 3000; i++) expected += "\\abc";
    EXPECT_EQ(resolve(deep.c_str()), expected);
    std::string up = "fs1:\\x";
    for (int i = 0; i < 5000; i++) up += "\\..";
    up += "\\y";
    EXPECT_EQ(resolve(up.c_str()), "fs1:\\y");
    std::string slashes(10000, '/');
    EXPECT_EQ(resolve(("fs2:" + slashes + "z" + slashes).c_str()), "fs2:\\z");
}

TEST_F(PathTest, ExtraNamesFollowTheNumber) {
    ASSERT_EQ(set_extra_name("usb", "fs1"), 0);
    EXPECT_EQ(resolve("usb:\\x"), "fs1:\\x");
    EXPECT_EQ(resolve("USB:x"), "fs1:\\x");
    EXPECT_EQ(volume_at(volume_index("usb", 3))->handle, sim::volume_handle(fw, v1));
    // Removing the first volume renumbers the others: the name follows "fs1", which is
    // now the volume that was fs2.
    sim::remove_volume(fw, v0);
    rescan_volumes_keep_directory();
    EXPECT_EQ(volume_count(), 2);
    EXPECT_EQ(resolve("usb:\\x"), "fs1:\\x");
    EXPECT_EQ(volume_at(volume_index("usb", 3))->handle, sim::volume_handle(fw, v2));
    // With one volume left, fs1 no longer exists and the name resolves to nothing.
    sim::remove_volume(fw, v1);
    rescan_volumes();
    EXPECT_EQ(volume_index("usb", 3), -1);
    EXPECT_EQ(resolve("usb:\\x"), "(null)");
}

TEST_F(PathTest, NoCurrentDirectoryWithoutVolumes) {
    sim::remove_volume(fw, v0);
    sim::remove_volume(fw, v1);
    sim::remove_volume(fw, v2);
    rescan_volumes_keep_directory();
    EXPECT_EQ(std::string(current_directory()), "");
    EXPECT_EQ(resolve("x"), "(null)");
    EXPECT_EQ(resolve("\\x"), "(null)");
    EXPECT_EQ(resolve("fs0:"), "(null)");
}

TEST_F(PathTest, CurrentDirectoryOnAVanishedVolume) {
    ASSERT_EQ(change_directory("fs2:\\"), 0);
    sim::remove_volume(fw, v2);
    rescan_volumes();  // keeps the text "fs2:\", which names nothing now
    EXPECT_EQ(resolve("x"), "(null)");
    EXPECT_EQ(resolve("fs1:x"), "fs1:\\x");
}

TEST_F(PathTest, Pieces) {
    EXPECT_STREQ(base_name("fs0:\\a\\b.txt"), "b.txt");
    EXPECT_STREQ(base_name("fs0:\\"), "");
    EXPECT_STREQ(base_name("fs0:"), "");
    EXPECT_STREQ(base_name("fs0:x"), "x");
    EXPECT_STREQ(base_name("plain"), "plain");
    EXPECT_EQ(take_text(directory_part("fs0:\\x")), "fs0:\\");
    EXPECT_EQ(take_text(directory_part("fs0:\\a\\b")), "fs0:\\a");
    EXPECT_EQ(take_text(directory_part("fs0:\\")), "fs0:\\");
    EXPECT_EQ(take_text(directory_part("plain")), "plain");
    EXPECT_EQ(take_text(join_path("fs0:\\", "x")), "fs0:\\x");
    EXPECT_EQ(take_text(join_path("fs0:\\a", "x")), "fs0:\\a\\x");
    EXPECT_TRUE(has_wildcard("a*"));
    EXPECT_TRUE(has_wildcard("fs0:\\?"));
    EXPECT_FALSE(has_wildcard("fs0:\\[a]"));
}

TEST_F(PathTest, StarIncludesDotNamesOtherPatternsDoNot) {
    for (const char* name : {".hidden", "a.txt", ".x.txt", "B.TXT", "readme", "an"})
        sim::add_file(fw, v1, std::string("\\d\\") + name, "x");
    sim::add_directory(fw, v1, "\\d\\sub.dir");
    EXPECT_EQ(expand("fs1:\\d\\*"),
              (std::vector<std::string>{"fs1:\\d\\.hidden", "fs1:\\d\\.x.txt", "fs1:\\d\\a.txt",
                                        "fs1:\\d\\an", "fs1:\\d\\B.TXT", "fs1:\\d\\readme",
                                        "fs1:\\d\\sub.dir"}));
    EXPECT_EQ(expand("fs1:\\d\\*.*"),
              (std::vector<std::string>{"fs1:\\d\\a.txt", "fs1:\\d\\B.TXT", "fs1:\\d\\sub.dir"}));
    EXPECT_EQ(expand("fs1:\\d\\*n"), (std::vector<std::string>{"fs1:\\d\\an"}));
    EXPECT_EQ(expand("fs1:\\d\\*.txt"),
              (std::vector<std::string>{"fs1:\\d\\a.txt", "fs1:\\d\\B.TXT"}));
    EXPECT_EQ(expand("fs1:\\d\\.*"),
              (std::vector<std::string>{"fs1:\\d\\.hidden", "fs1:\\d\\.x.txt"}));
    EXPECT_EQ(expand("fs1:\\d\\a?"), (std::vector<std::string>{"fs1:\\d\\an"}));
    EXPECT_EQ(expand("fs1:\\d\\a.txt?"), std::vector<std::string>{});
    EXPECT_EQ(expand("fs1:\\nothing\\*"), std::vector<std::string>{});
    EXPECT_EQ(expand("fs1:\\d\\readme\\*"), std::vector<std::string>{});
    // Wildcards count only in the last component.
    EXPECT_EQ(expand("fs1:\\*\\a.txt"), std::vector<std::string>{});
}

TEST_F(PathTest, PatternsFromTheRootAndWithLongStars) {
    sim::add_file(fw, v2, "\\aXbYbc", "");
    sim::add_file(fw, v2, "\\abc", "");
    sim::add_file(fw, v2, "\\ab", "");
    EXPECT_EQ(expand("fs2:\\a*b*c"), (std::vector<std::string>{"fs2:\\abc", "fs2:\\aXbYbc"}));
    EXPECT_EQ(expand("fs2:\\A*"),
              (std::vector<std::string>{"fs2:\\ab", "fs2:\\abc", "fs2:\\aXbYbc"}));
}

class ArgumentTest : public PathTest {
protected:
    void SetUp() override {
        PathTest::SetUp();
        sim::add_file(fw, v0, "\\dir\\one.txt", "1");
        sim::add_file(fw, v0, "\\dir\\two.txt", "2");
        sim::add_file(fw, v0, "\\dir\\Three.TXT", "3");
        ASSERT_EQ(change_directory("fs0:\\dir"), 0);
        fw.screen().clear_transcript();
    }
    bool run(std::vector<const char*> args, bool strict, std::vector<std::string>* out) {
        std::vector<char*> v;
        for (const char* a : args) v.push_back(const_cast<char*>(a));
        PathList list;
        bool ok = expand_arguments("cmd", static_cast<int>(v.size()), v.data(), 1, strict, list);
        out->clear();
        for (uint64_t i = 0; i < list.count; i++) out->push_back(list[i]);
        return ok;
    }
    std::string errors() { return fw.screen().text_in_foreground(kErrorColour); }
};

TEST_F(ArgumentTest, ExpandsInOrderWithSortedMatches) {
    std::vector<std::string> out;
    ASSERT_TRUE(run({"cmd", "zeta", "*.txt", "fs1:\\new"}, false, &out));
    EXPECT_EQ(out, (std::vector<std::string>{"fs0:\\dir\\zeta", "fs0:\\dir\\one.txt",
                                             "fs0:\\dir\\Three.TXT", "fs0:\\dir\\two.txt",
                                             "fs1:\\new"}));
    EXPECT_EQ(errors(), "");
}

TEST_F(ArgumentTest, StrictFailuresReportAndEmptyTheList) {
    std::vector<std::string> out;
    EXPECT_FALSE(run({"cmd", "one.txt", "none*"}, true, &out));
    EXPECT_TRUE(out.empty());
    EXPECT_NE(errors().find("cmd: none*: no match"), std::string::npos);
    fw.screen().clear_transcript();
    EXPECT_FALSE(run({"cmd", "*.txt", "missing"}, true, &out));
    EXPECT_TRUE(out.empty());
    EXPECT_NE(errors().find("cmd: missing: not found"), std::string::npos);
    fw.screen().clear_transcript();
    EXPECT_FALSE(run({"cmd", "fs7:\\x"}, false, &out));
    EXPECT_NE(errors().find("cmd: fs7:\\x: invalid path or volume"), std::string::npos);
}

TEST_F(ArgumentTest, NonStrictSkipsEmptyPatterns) {
    std::vector<std::string> out;
    ASSERT_TRUE(run({"cmd", "none*", "two.txt"}, false, &out));
    EXPECT_EQ(out, (std::vector<std::string>{"fs0:\\dir\\two.txt"}));
    EXPECT_EQ(errors(), "");
}

}  // namespace
