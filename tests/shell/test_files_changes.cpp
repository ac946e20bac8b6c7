// cp, mv, rm, del, mkdir, md, rmdir, touch and setsize over the simulated firmware,
// including full volumes, failing writes and renames, and Ctrl-C.
#include "command_test.h"
#include "commands/files/file_commands.h"

using namespace tarn;
using namespace tarn_test;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string pattern_bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return s;
}

void press_ctrl_c(CommandShell& sh) {
    sh.fw.push_key(3);
    sh.fw.advance_us(100000);  // past the break poll's 50 ms interval
}

}  // namespace

// ---- cp ----

TEST(FilesCp, CopiesFilesIntoDirectoriesAndOntoNames) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a.txt", "alpha");
    sh.add_file("t\\b.txt", "beta");
    sh.add_directory("t\\d");
    ASSERT_EQ(sh.run("cd t").code, 0);
    EXPECT_EQ(sh.output("cp a.txt c.txt"), "");
    EXPECT_EQ(sh.file_content("t\\c.txt"), "alpha");
    EXPECT_EQ(sh.output("cp -q *.txt d"), "");
    EXPECT_EQ(sim::list_directory(sh.fw, sh.boot_volume(), "t\\d"),
              (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    // Existing files are overwritten without a question.
    EXPECT_EQ(sh.output("cp b.txt c.txt"), "");
    EXPECT_EQ(sh.file_content("t\\c.txt"), "beta");
    sh.expect_handles_closed();
}

// "nodir\" can only mean a directory: when there is none, cp and mv create nothing.
TEST(FilesCpMv, ADestinationEndingInASeparatorMustBeAnExistingDirectory) {
    CommandShell sh(file_commands());
    sh.add_file("f.txt", "data");
    sh.add_directory("d");
    for (const char* command : {"cp", "mv"}) {
        for (const char* target : {"nodir\\", "nodir/", "fs0:\\x\\nodir\\"}) {
            std::string line = std::string(command) + " f.txt " + target;
            auto r = sh.run(line);
            EXPECT_EQ(r.code, 1) << line;
            EXPECT_TRUE(contains(r.errors, ": not a directory\n")) << line << ": " << r.errors;
            EXPECT_EQ(sim::list_directory(sh.fw, sh.boot_volume(), "\\"),
                      (std::vector<std::string>{"f.txt", "d"})) << line;
        }
    }
    // An existing directory typed with its separator takes the file as before.
    EXPECT_EQ(sh.run("cp f.txt d\\").code, 0);
    EXPECT_EQ(sh.file_content("d\\f.txt"), "data");
    EXPECT_EQ(sh.run("mv f.txt fs0:\\").code, 1);  // same file: the root is a directory
    EXPECT_EQ(sh.run("cp f.txt fs0:\\d/").code, 0);
    sh.expect_handles_closed();
}

TEST(FilesCp, RefusesTheSameFileAndCopiesIntoItself) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a.txt", "alpha");
    sh.add_file("t\\x\\in.txt", "in");
    sh.add_directory("t\\x\\y");
    ASSERT_EQ(sh.run("cd t").code, 0);
    RunResult r = sh.expect_failure("cp a.txt A.TXT", 1, "cp: fs0:\\t\\a.txt: source and destination are the same file\n");
    EXPECT_EQ(sh.file_content("t\\a.txt"), "alpha");
    sh.expect_failure("cp -r fs0:\\t\\x fs0:\\t\\x\\y", 1, "cp: cannot copy fs0:\\t\\x into itself\n");
    r = sh.run_captured("cp -r x .");
    EXPECT_EQ(r.errors, "cp: cannot copy fs0:\\t\\x into itself\n");
    r = sh.run_captured("cp -r fs0:\\ fs0:\\t\\x");
    EXPECT_EQ(r.errors, "cp: cannot copy fs0:\\ into itself\n");
    EXPECT_EQ(sim::list_directory(sh.fw, sh.boot_volume(), "t\\x\\y").size(), 0u);
    r = sh.run_captured("cp x z");
    EXPECT_EQ(r.errors, "cp: fs0:\\t\\x is a directory (use -r)\n");
    EXPECT_FALSE(sh.exists("t\\z"));
}

TEST(FilesCp, RecursiveCopyMergesIntoAnExistingDirectory) {
    CommandShell sh(file_commands());
    sh.add_file("t\\x\\a", "new a");
    sh.add_file("t\\x\\b", "new b");
    sh.add_file("t\\x\\sub\\c", "c");
    sh.add_file("t\\y\\x\\a", "old a");
    sh.add_file("t\\y\\x\\old", "kept");
    ASSERT_EQ(sh.run("cd t").code, 0);
    EXPECT_EQ(sh.output("cp -r x y"), "");
    EXPECT_EQ(sh.file_content("t\\y\\x\\a"), "new a");
    EXPECT_EQ(sh.file_content("t\\y\\x\\b"), "new b");
    EXPECT_EQ(sh.file_content("t\\y\\x\\sub\\c"), "c");
    EXPECT_EQ(sh.file_content("t\\y\\x\\old"), "kept");
    // A new target name gets the contents.
    EXPECT_EQ(sh.output("cp -r x fresh"), "");
    EXPECT_EQ(sh.file_content("t\\fresh\\sub\\c"), "c");
    // A file where a directory must go.
    sh.add_file("t\\f\\x", "file");
    sh.expect_failure("cp -r x f", 1, "cp: fs0:\\t\\f\\x: not a directory\n");
    EXPECT_EQ(sh.file_content("t\\f\\x"), "file");
    sh.expect_handles_closed();
}

TEST(FilesCp, SourceCountAndFailingSources) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a.txt", "alpha");
    sh.add_file("t\\b.txt", "beta");
    sh.add_directory("t\\d");
    ASSERT_EQ(sh.run("cd t").code, 0);
    RunResult r = sh.expect_failure("cp a.txt b.txt newname", 1, "cp: fs0:\\t\\newname: not a directory\n");
    EXPECT_FALSE(sh.exists("t\\newname"));
    // A failing source is reported; the others are copied.
    sh.expect_failure("cp a.txt missing.txt nothing* b.txt d", 1, "cp: missing.txt: not found\ncp: nothing*: no match\n");
    EXPECT_EQ(sh.file_content("t\\d\\a.txt"), "alpha");
    EXPECT_EQ(sh.file_content("t\\d\\b.txt"), "beta");
    r = sh.run_captured("cp a.txt fs9:\\x");
    EXPECT_EQ(r.errors, "cp: fs9:\\x: invalid path or volume\n");
    EXPECT_EQ(sh.run_captured("cp a.txt").code, 2);
    EXPECT_EQ(sh.run_captured("cp -x a b").code, 2);
}

TEST(FilesCp, AFullVolumeLeavesNoPartialTarget) {
    CommandShell sh(file_commands());
    const std::string big = pattern_bytes(600000);
    sh.add_file("big.bin", big);
    sim::set_free_space(sh.fw, sh.boot_volume(), 300000);
    sh.expect_failure("cp big.bin copy.bin", 1, "cp: fs0:\\copy.bin: volume full\n");
    EXPECT_FALSE(sh.exists("copy.bin"));
    EXPECT_EQ(sh.file_content("big.bin"), big);
    sh.expect_handles_closed();
}

TEST(FilesCp, FailingWritesAndReadsRemoveThePartialTarget) {
    CommandShell sh(file_commands());
    const std::string big = pattern_bytes(700000);
    sh.add_file("big.bin", big);
    sim::fail_writes_after(sh.fw, sh.boot_volume(), 1);
    RunResult r = sh.expect_failure("cp big.bin w.bin", 1, "cp: fs0:\\w.bin: I/O error\n");
    EXPECT_FALSE(sh.exists("w.bin"));
    sim::fail_writes_after(sh.fw, sh.boot_volume(), -1);

    sim::inject_file_error(sh.fw, sh.boot_volume(), sim::FileOp::Read, efi::kDeviceError, 1);
    r = sh.expect_failure("cp big.bin r.bin", 1, "cp: fs0:\\big.bin: I/O error\n");
    EXPECT_FALSE(sh.exists("r.bin"));
    EXPECT_EQ(sh.file_content("big.bin"), big);
    sh.expect_handles_closed();
}

TEST(FilesCp, AFileLargerThanMemoryIsCopiedInPieces) {
    CommandShell sh(file_commands(2));
    const std::string data = pattern_bytes(300000);
    sh.add_file("huge.bin", data);
    // The firmware claims far more than any memory could hold.
    sim::set_reported_size(sh.fw, sh.boot_volume(), "huge.bin", 1ull << 62);
    int64_t before = sh.fw.outstanding_allocations();
    EXPECT_EQ(sh.output("cp huge.bin fs1:\\huge.bin"), "");
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "huge.bin").value_or(""), data);
    EXPECT_EQ(sh.fw.outstanding_allocations(), before);
    sh.expect_handles_closed();
}

TEST(FilesCp, CtrlCStopsBeforeTheNextSource) {
    CommandShell sh(file_commands());
    sh.add_file("a.txt", "alpha");
    press_ctrl_c(sh);
    RunResult r = sh.run_captured("cp a.txt b.txt");
    EXPECT_EQ(r.code, 130);
    EXPECT_FALSE(sh.exists("b.txt"));
}

// ---- mv ----

TEST(FilesMv, ReplacesAnExistingFileOnlyAfterTheMove) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a", "new");
    sh.add_file("t\\b", "old");
    sh.add_file("t\\b.mv0", "someone else's");
    ASSERT_EQ(sh.run("cd t").code, 0);
    EXPECT_EQ(sh.output("mv a b"), "");
    EXPECT_EQ(sh.file_content("t\\b"), "new");
    EXPECT_FALSE(sh.exists("t\\a"));
    // The first free backup name was used and is gone again.
    EXPECT_FALSE(sh.exists("t\\b.mv1"));
    EXPECT_EQ(sh.file_content("t\\b.mv0"), "someone else's");
    sh.expect_handles_closed();
}

TEST(FilesMv, AFailedRenameRestoresTheOldFileAndLeavesTheSource) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a", "new");
    sh.add_file("t\\b", "old");
    ASSERT_EQ(sh.run("cd t").code, 0);
    // The first rename (b to b.mv0) works, the second (a to b) fails.
    sim::inject_file_error(sh.fw, sh.boot_volume(), sim::FileOp::SetInfo, efi::kDeviceError, 1);
    RunResult r = sh.expect_failure("mv a b", 1, "mv: fs0:\\t\\a: I/O error\n");
    EXPECT_EQ(sh.file_content("t\\a"), "new");
    EXPECT_EQ(sh.file_content("t\\b"), "old");
    EXPECT_FALSE(sh.exists("t\\b.mv0"));

    // Without a file in the way.
    sim::inject_file_error(sh.fw, sh.boot_volume(), sim::FileOp::SetInfo, efi::kDeviceError, 0);
    r = sh.run_captured("mv a c");
    EXPECT_EQ(r.errors, "mv: fs0:\\t\\a: I/O error\n");
    EXPECT_EQ(sh.file_content("t\\a"), "new");
    EXPECT_FALSE(sh.exists("t\\c"));

    // The file in the way cannot be renamed: the source is left alone.
    sim::inject_file_error(sh.fw, sh.boot_volume(), sim::FileOp::SetInfo, efi::kDeviceError, 0);
    r = sh.run_captured("mv a b");
    EXPECT_EQ(r.errors, "mv: fs0:\\t\\b: I/O error\n");
    EXPECT_EQ(sh.file_content("t\\a"), "new");
    EXPECT_EQ(sh.file_content("t\\b"), "old");
    sh.expect_handles_closed();
}

TEST(FilesMv, RenamesCaseAndRefusesIntoItself) {
    CommandShell sh(file_commands());
    sh.add_file("t\\x", "x");
    sh.add_file("t\\d\\in", "in");
    sh.add_directory("t\\d\\sub");
    sh.add_directory("t\\e\\d");
    ASSERT_EQ(sh.run("cd t").code, 0);
    EXPECT_EQ(sh.output("mv x X"), "");
    EXPECT_EQ(sim::stored_name(sh.fw, sh.boot_volume(), "t\\x"), "X");
    EXPECT_EQ(sim::list_directory(sh.fw, sh.boot_volume(), "t").size(), 3u);

    RunResult r = sh.expect_failure("mv d d\\sub", 1, "mv: cannot move fs0:\\t\\d into itself\n");
    r = sh.run_captured("mv d d\\new");
    EXPECT_EQ(r.errors, "mv: cannot move fs0:\\t\\d into itself\n");
    r = sh.run_captured("mv d e");
    EXPECT_EQ(r.errors, "mv: fs0:\\t\\e\\d already exists\n");
    r = sh.run_captured("mv X x");
    EXPECT_EQ(r.code, 0);
    r = sh.run_captured("mv x x");
    EXPECT_EQ(r.errors, "mv: fs0:\\t\\x: source and destination are the same file\n");
    r = sh.run_captured("mv fs0:\\ fs0:\\t\\e");
    EXPECT_EQ(r.errors, "mv: fs0:\\: cannot move the root directory\n");
    r = sh.run_captured("mv x d\\in newname");
    EXPECT_EQ(r.errors, "mv: fs0:\\t\\newname: not a directory\n");
    EXPECT_TRUE(sh.exists("t\\d\\in"));
    EXPECT_TRUE(sh.exists("t\\d\\sub"));
    // Into a directory.
    EXPECT_EQ(sh.output("mv x d\\in e\\d"), "");
    EXPECT_EQ(sh.file_content("t\\e\\d\\x"), "x");
    EXPECT_EQ(sh.file_content("t\\e\\d\\in"), "in");
    EXPECT_EQ(sh.run_captured("mv -r a b").code, 2);
    EXPECT_EQ(sh.run_captured("mv a").code, 2);
}

TEST(FilesMv, ADirectoryRenamedOnlyInCaseIsRenamedWithItsContents) {
    CommandShell sh(file_commands());
    sh.add_file("tree\\b\\inner.txt", "inner");
    sh.add_file("tree\\b\\deep\\leaf", "leaf");
    sh.add_directory("tree\\other");
    RunResult r = sh.run_captured("mv \\tree\\b \\tree\\B");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(sim::stored_name(sh.fw, sh.boot_volume(), "tree\\b"), "B");
    EXPECT_EQ(sh.file_content("tree\\B\\inner.txt"), "inner");
    EXPECT_EQ(sh.file_content("tree\\B\\deep\\leaf"), "leaf");
    EXPECT_EQ(sim::list_directory(sh.fw, sh.boot_volume(), "tree").size(), 2u);  // B and other
    // Relative names too, and back again.
    ASSERT_EQ(sh.run("cd tree").code, 0);
    EXPECT_EQ(sh.run_captured("mv B b").code, 0);
    EXPECT_EQ(sim::stored_name(sh.fw, sh.boot_volume(), "tree\\b"), "b");
    // The same name in the same case still names a directory to move into: itself.
    r = sh.run_captured("mv b b");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "mv: cannot move fs0:\\tree\\b into itself\n");
    // Among several sources a directory of the name is where they go.
    sh.add_file("tree\\f.txt", "f");
    EXPECT_EQ(sh.run_captured("mv f.txt other B").code, 0);
    EXPECT_EQ(sh.file_content("tree\\b\\f.txt"), "f");
    EXPECT_TRUE(sh.exists("tree\\b\\other"));
}

TEST(FilesMv, BetweenVolumesCopiesThenDeletesTheSource) {
    CommandShell sh(file_commands(2));
    sh.add_file("tree\\a", "a");
    sh.add_file("tree\\sub\\b", "b");
    sim::add_directory(sh.fw, sh.volumes[1], "dest");
    EXPECT_EQ(sh.output("mv fs0:\\tree fs1:\\dest"), "");
    EXPECT_FALSE(sh.exists("tree"));
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "dest\\tree\\a").value_or(""), "a");
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "dest\\tree\\sub\\b").value_or(""), "b");

    // An existing file on the other volume is replaced.
    sh.add_file("f", "new");
    sim::add_file(sh.fw, sh.volumes[1], "f", "old");
    EXPECT_EQ(sh.output("mv fs0:\\f fs1:\\f"), "");
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "f").value_or(""), "new");
    EXPECT_FALSE(sim::exists(sh.fw, sh.volumes[1], "f.mv0"));
    EXPECT_FALSE(sh.exists("f"));
    sh.expect_handles_closed();
}

TEST(FilesMv, AFailedCopyBetweenVolumesLosesNothing) {
    CommandShell sh(file_commands(2));
    const std::string big = pattern_bytes(500000);
    sh.add_file("tree\\small", "s");
    sh.add_file("tree\\big", big);
    sim::add_file(sh.fw, sh.volumes[1], "tree", "old file in the way");
    sim::set_free_space(sh.fw, sh.volumes[1], 100000);
    sh.expect_failure("mv fs0:\\tree fs1:\\tree", 1, "mv: fs1:\\tree\\big: volume full\n");
    // The source is whole, the partial copy is gone and the old file is back.
    EXPECT_EQ(sh.file_content("tree\\big"), big);
    EXPECT_EQ(sh.file_content("tree\\small"), "s");
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "tree").value_or(""), "old file in the way");
    EXPECT_EQ(sim::list_directory(sh.fw, sh.volumes[1], "\\"), (std::vector<std::string>{"tree"}));
    sh.expect_handles_closed();
}

TEST(FilesMv, AReadOnlySourceFileStaysBesideItsCopy) {
    CommandShell sh(file_commands(2));
    sh.add_file("tree\\ro", "r", 0x21);
    sh.add_file("tree\\rw", "w");
    sh.expect_failure("mv fs0:\\tree fs1:\\", 1, "mv: fs0:\\tree\\ro: access denied\n");
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "tree\\ro").value_or(""), "r");
    EXPECT_EQ(sim::read_file(sh.fw, sh.volumes[1], "tree\\rw").value_or(""), "w");
    EXPECT_TRUE(sh.exists("tree\\ro"));
    EXPECT_FALSE(sh.exists("tree\\rw"));
}

// ---- rm and del ----

TEST(FilesRm, TheRootIsRefusedBeforeAnythingIsDeleted) {
    CommandShell sh(file_commands());
    sh.add_file("a.txt", "a");
    sh.add_file("d\\b.txt", "b");
    for (const char* line : {"rm fs0:\\", "rm -r fs0:\\", "rm -rf \\", "del -q fs0:"}) {
        RunResult r = sh.run_captured(line);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_TRUE(contains(r.errors, ": fs0:\\: cannot remove the root directory\n")) << r.errors;
    }
    EXPECT_TRUE(sh.exists("a.txt"));
    EXPECT_TRUE(sh.exists("d\\b.txt"));
}

TEST(FilesRm, RecursiveDeleteReportsAReadOnlyFileAndRemovesTheRest) {
    CommandShell sh(file_commands());
    sh.add_file("tree\\a", "a");
    sh.add_file("tree\\sub\\ro", "r", 0x21);
    sh.add_file("tree\\sub\\b", "b");
    sh.add_file("tree\\c", "c");
    sh.add_file("tree\\other\\d", "d");
    sh.expect_failure("rm -r tree", 1, "rm: fs0:\\tree\\sub\\ro: access denied\n");
    EXPECT_TRUE(sh.exists("tree\\sub\\ro"));
    EXPECT_EQ(sim::list_directory(sh.fw, sh.boot_volume(), "tree"), (std::vector<std::string>{"sub"}));
    EXPECT_EQ(sim::list_directory(sh.fw, sh.boot_volume(), "tree\\sub"), (std::vector<std::string>{"ro"}));
    // Once writable, the rest goes.
    EXPECT_EQ(sh.output("attrib -r tree\\sub\\ro"), " A     fs0:\\tree\\sub\\ro\n");
    EXPECT_EQ(sh.output("rm -q tree"), "");
    EXPECT_FALSE(sh.exists("tree"));
    sh.expect_handles_closed();
}

TEST(FilesRm, MissingPathsPatternsAndDirectories) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a", "a");
    sh.add_file("t\\b", "b");
    sh.add_directory("t\\d");
    ASSERT_EQ(sh.run("cd t").code, 0);
    EXPECT_EQ(sh.output("rm -f nothing* missing"), "");
    RunResult r = sh.expect_failure("rm nothing*", 1, "rm: nothing*: no match\n");
    sh.expect_failure("rm a missing d b", 1, "rm: missing: not found\nrm: fs0:\\t\\d is a directory (use -r)\n");
    EXPECT_FALSE(sh.exists("t\\a"));
    EXPECT_FALSE(sh.exists("t\\b"));
    EXPECT_TRUE(sh.exists("t\\d"));
    r = sh.run_captured("del missing");
    EXPECT_EQ(r.errors, "del: missing: not found\n");
    r = sh.run_captured("DEL fs9:\\x");
    EXPECT_EQ(r.errors, "DEL: fs9:\\x: invalid path or volume\n");
    EXPECT_EQ(sh.run_captured("rm").code, 2);
    EXPECT_EQ(sh.run_captured("rm -x a").code, 2);
    EXPECT_EQ(sh.output("rm -r d"), "");
    EXPECT_FALSE(sh.exists("t\\d"));
}

// ---- mkdir, md, rmdir ----

TEST(FilesMkdir, ParentsExistingDirectoriesAndFilesOnTheWay) {
    CommandShell sh(file_commands());
    sh.add_file("file", "f");
    EXPECT_EQ(sh.output("mkdir -p fs0:\\a\\b"), "");
    EXPECT_EQ(sh.output("mkdir -p fs0:\\a\\b"), "");
    EXPECT_TRUE(sim::is_directory(sh.fw, sh.boot_volume(), "a\\b"));
    RunResult r = sh.expect_failure("mkdir -p fs0:\\file\\b fs0:\\c", 1, "mkdir: fs0:\\file: not a directory\n");
    EXPECT_TRUE(sim::is_directory(sh.fw, sh.boot_volume(), "c"));
    r = sh.run_captured("md c x\\y fs9:\\z e");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors,
              "md: fs0:\\c: already exists\nmd: fs0:\\x\\y: not found\n"
              "md: fs9:\\z: invalid path or volume\n");
    EXPECT_TRUE(sim::is_directory(sh.fw, sh.boot_volume(), "e"));
    EXPECT_EQ(sh.output("mkdir -p fs0:\\"), "");
    EXPECT_EQ(sh.run_captured("mkdir").code, 2);
}

TEST(FilesRmdir, RemovesEmptyDirectoriesOnly) {
    CommandShell sh(file_commands());
    sh.add_file("full\\x", "x");
    sh.add_directory("empty");
    sh.add_file("f", "f");
    RunResult r = sh.run_captured("rmdir full f nothing fs9:\\x fs0:\\ empty");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors,
              "rmdir: fs0:\\full: directory not empty\nrmdir: fs0:\\f: not a directory\n"
              "rmdir: fs0:\\nothing: not found\nrmdir: fs9:\\x: not found\n"
              "rmdir: fs0:\\: cannot remove the root directory\n");
    EXPECT_FALSE(sh.exists("empty"));
    EXPECT_TRUE(sh.exists("full\\x"));
    EXPECT_TRUE(sh.exists("f"));
}

// ---- touch and setsize ----

TEST(FilesTouch, CreatesFilesAndSetsTimes) {
    CommandShell sh(file_commands());
    sh.add_file("old.txt", "keep");
    sh.add_file("ro", "", 0x01);
    sh.add_file("d\\in", "");
    sh.add_file("d\\sub\\deep", "");
    efi::Time later{};
    later.year = 2026;
    later.month = 1;
    later.day = 2;
    later.hour = 3;
    later.minute = 4;
    later.second = 5;
    sh.fw.set_wall_time(later);
    EXPECT_EQ(sh.output("touch old.txt new.txt"), "");
    EXPECT_EQ(sh.file_content("old.txt"), "keep");
    EXPECT_EQ(sh.file_content("new.txt"), "");
    efi::Time m = sim::modification_time(sh.fw, sh.boot_volume(), "old.txt");
    EXPECT_EQ(m.year, 2026);
    EXPECT_EQ(m.second, 5);
    EXPECT_EQ(sim::last_access_time(sh.fw, sh.boot_volume(), "old.txt").year, 2026);
    EXPECT_EQ(sim::modification_time(sh.fw, sh.boot_volume(), "d\\sub\\deep").year, 2025);
    EXPECT_EQ(sh.output("touch -r d"), "");
    EXPECT_EQ(sim::modification_time(sh.fw, sh.boot_volume(), "d\\sub\\deep").year, 2026);
    EXPECT_EQ(sh.output("touch nothing*"), "");
    RunResult r = sh.expect_failure("touch fs9:\\x", 1, "touch: fs9:\\x: invalid path\n");
    // The firmware's FAT driver sets times on read-only files too.
    r = sh.run_captured("touch ro");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(sh.run_captured("touch").code, 2);
    sh.expect_handles_closed();
}

TEST(FilesSetsize, TruncatesExtendsAndCreates) {
    CommandShell sh(file_commands());
    sh.add_file("a", "abcdef");
    sh.add_directory("d");
    EXPECT_EQ(sh.output("setsize 0x2 a"), "");
    EXPECT_EQ(sh.file_content("a"), "ab");
    EXPECT_EQ(sh.output("setsize 5 a"), "");
    EXPECT_EQ(sh.file_content("a"), std::string("ab\0\0\0", 5));
    EXPECT_EQ(sh.output("setsize 1_000 new.bin"), "");
    EXPECT_EQ(sh.file_content("new.bin"), std::string(1000, '\0'));
    RunResult r = sh.expect_failure("setsize 1 d fs9:\\x", 1, "setsize: fs0:\\d: is a directory\nsetsize: fs9:\\x: not found\n");
    // More than the volume holds: refused, and the file made for it does not stay.
    r = sh.run_captured("setsize 0x7fffffffffffffff huge.bin");
    EXPECT_EQ(r.errors, "setsize: fs0:\\huge.bin: volume full\n");
    EXPECT_FALSE(sh.exists("huge.bin"));
    for (const char* bad : {"setsize -1 a", "setsize abc a", "setsize 5", "setsize"})
        EXPECT_EQ(sh.run_captured(bad).code, 2) << bad;
    EXPECT_EQ(sh.file_content("a").size(), 5u);
    sh.expect_handles_closed();
}

// ---- resources ----

TEST(FilesResources, CommandsReleaseWhatTheyAllocateOnEveryPath) {
    CommandShell sh(file_commands(2));
    const std::vector<std::string> lines = {
        "mkdir -p w\\a\\b", "cp -r w w2", "cp -r w w2", "cp nothing* w", "cp w w3",
        "mv w2 fs1:\\", "mv fs1:\\w2 w4", "mv w4 w4\\a", "touch -r w", "setsize 10 w\\f",
        "attrib +h w\\f", "attrib w", "stat w w\\f nothing", "ls -l -r -a", "dir -data w",
        "ls nothing fs9:", "rm -r w w3 nothing", "rm -rf w4", "rmdir w nothing", "vol",
        "map", "map -v -data", "map usb fs1:", "map -d usb", "cd fs1:", "cd fs0:", "pwd",
    };
    auto run_all = [&] {
        for (const std::string& line : lines) sh.run_captured(line);
        sh.expect_handles_closed();
    };
    run_all();  // first uses may build tables that live on (block devices, names)
    int64_t before = sh.fw.outstanding_allocations();
    run_all();
    EXPECT_EQ(sh.fw.outstanding_allocations(), before);
}
