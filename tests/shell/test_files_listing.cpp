// ls, dir, stat, attrib, vol, map, cd and pwd over the simulated firmware.
#include <cstdarg>
#include <cstdio>

#include "command_test.h"
#include "commands/files/file_commands.h"

#include "commands/files/file_tree.h"
#include "fs/blocks.h"
#include "runtime/console.h"

using namespace tarn;
using namespace tarn_test;

namespace {

std::string fmt(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A directory t with entries of every kind, made the current directory.
void make_mixed_directory(CommandShell& sh) {
    sh.add_file("t\\a.txt", "abc");
    sh.add_file("t\\.dot", "");
    sh.add_file("t\\.x.txt", "");
    sh.add_file("t\\h.txt", "", 0x22);
    sh.add_file("t\\s.txt", "", 0x24);
    sh.add_file("t\\hs.txt", "", 0x26);
    sh.add_directory("t\\sub");
    sh.add_directory("t\\hdir", 0x12);
    ASSERT_EQ(sh.run("cd t").code, 0);
}

}  // namespace

TEST(FilesLs, HiddenSystemAndDotNamesFollowTheFilterAndThePattern) {
    CommandShell sh(file_commands());
    make_mixed_directory(sh);
    EXPECT_EQ(sh.output("ls"), "sub\\\n.dot\n.x.txt\na.txt\n");
    const std::string everything = "hdir\\\nsub\\\n.dot\n.x.txt\na.txt\nh.txt\nhs.txt\ns.txt\n";
    EXPECT_EQ(sh.output("ls -a"), everything);
    EXPECT_EQ(sh.output("ls -A"), everything);
    // "*" shows dot names and, as any pattern, hidden and system entries.
    EXPECT_EQ(sh.output("ls *"), everything);
    EXPECT_EQ(sh.output("ls *.txt"), "a.txt\nh.txt\nhs.txt\ns.txt\n");
    EXPECT_EQ(sh.output("ls .*"), ".dot\n.x.txt\n");
    EXPECT_EQ(sh.output("ls -ahs"), "hs.txt\n");
    EXPECT_EQ(sh.output("ls -ad"), "hdir\\\nsub\\\n");
    EXPECT_EQ(sh.output("ls -AHD"), "hdir\\\n");
    EXPECT_EQ(sh.output("ls -ahs *.txt"), "hs.txt\n");
    // A file argument shows just its name; -b is the pager's.
    EXPECT_EQ(sh.output("ls -b a.txt"), "a.txt\n");
    sh.expect_handles_closed();
}

TEST(FilesLs, BadOptionsAreUsageErrorsUnderTheTypedName) {
    CommandShell sh(file_commands());
    RunResult r = sh.run_captured("ls -ax");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(contains(r.errors, "ls: unknown attribute 'x' in -ax (a, s, h, r, d)\n")) << r.errors;
    sh.expect_failure("dir -z", 2, "dir: unknown option -z\nusage: dir [-r] [-a[ashrd]] [PATH | PATTERN...]\n");
    EXPECT_EQ(sh.run_captured("cp -data a b").code, 2);
}

TEST(FilesLs, PathErrorsAreReportedAndTheOtherArgumentsListed) {
    CommandShell sh(file_commands());
    sh.add_file("t\\sub\\b.txt", "");
    ASSERT_EQ(sh.run("cd t").code, 0);
    RunResult r = sh.expect_failure("dir nothing fs9:\\x sub", 1, "ls: fs0:\\t\\nothing: not found\nls: fs9:\\x: invalid path or volume\n");
    EXPECT_TRUE(contains(r.out, "fs0:\\t\\sub:\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "  b.txt\n1 file, 0 dirs, 0 bytes\n")) << r.out;
}

TEST(FilesLs, DirShowsLongLinesAndTotals) {
    CommandShell sh(file_commands());
    sh.add_directory("e");
    sh.add_file("t\\b.bin", std::string(1234, 'x'));
    sh.add_file("t\\c.efi", "12345", 0x21);
    sh.add_directory("t\\d");
    EXPECT_EQ(sh.output("dir e"), "0 files, 0 dirs, 0 bytes\n");
    EXPECT_EQ(sh.output("ls -l t"),
              "2025-03-07 14:05  d----         <DIR>  d\\\n"
              "2025-03-07 14:05  ----a          1234  b.bin\n"
              "2025-03-07 14:05  -r--a             5  c.efi\n"
              "2 files, 1 dir, 1239 bytes\n");
    EXPECT_EQ(sh.output("dir t\\c.efi"), "2025-03-07 14:05  -r--a             5  c.efi\n");
    sh.expect_handles_closed();
}

TEST(FilesLs, RecursionListsEachDirectoryAfterItsParent) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a.txt", "");
    sh.add_file("t\\sub\\b.txt", "");
    sh.add_file("t\\sub\\deep\\c.txt", "");
    sh.add_file("t\\z\\d.txt", "");
    sh.add_directory("t\\z\\hidden", 0x12);
    ASSERT_EQ(sh.run("cd t").code, 0);
    EXPECT_EQ(sh.output("ls -r"),
              "fs0:\\t:\nsub\\\nz\\\na.txt\n"
              "\nfs0:\\t\\sub:\ndeep\\\nb.txt\n"
              "\nfs0:\\t\\sub\\deep:\nc.txt\n"
              "\nfs0:\\t\\z:\nd.txt\n"
              "\nfs0:\\t\\z\\hidden:\n");
    EXPECT_EQ(sh.output("ls -r *.txt"),
              "fs0:\\t:\na.txt\n"
              "\nfs0:\\t\\sub:\nb.txt\n"
              "\nfs0:\\t\\sub\\deep:\nc.txt\n"
              "\nfs0:\\t\\z:\nd.txt\n"
              "\nfs0:\\t\\z\\hidden:\n");
    // Several arguments: each directory gets its heading.
    EXPECT_EQ(sh.output("ls a.txt z"), "a.txt\n\nfs0:\\t\\z:\nd.txt\n");
    // Records carry no headings.
    std::string data = sh.output("ls -r -data sub");
    EXPECT_FALSE(contains(data, "fs0:\\t\\sub:\n"));
    EXPECT_TRUE(contains(data, "path=fs0:\\t\\sub\\deep\\c.txt\n")) << data;
}

TEST(FilesLs, StructuredRecordsDescribeEachEntry) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a.txt", "abc", 0x21);
    sh.add_directory("t\\d");
    std::string data = sh.output("ls -data t");
    EXPECT_EQ(data,
              "name=d\npath=fs0:\\t\\d\ntype=dir\nsize=0\nmodified=2025-03-07 14:05:09\n"
              "readonly=no\nhidden=no\nsystem=no\narchive=no\n\n"
              "name=a.txt\npath=fs0:\\t\\a.txt\ntype=file\nsize=3\nmodified=2025-03-07 14:05:09\n"
              "readonly=yes\nhidden=no\nsystem=no\narchive=yes\n");
}

TEST(FilesLs, ConsoleListingUsesColumnsAndColours) {
    CommandShell sh(file_commands());
    sh.add_directory("t\\d");
    sh.add_file("t\\.efi", "");
    sh.add_file("t\\plain", "");
    sh.add_file("t\\prog.EFI", "");
    sh.add_file("t\\x.tsb", "");
    RunResult r = sh.run("ls t");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "d\\        .efi      plain     prog.EFI  x.tsb\n");
    const sim::Screen& screen = sh.fw.screen();
    EXPECT_EQ(screen.text_in_foreground(9), "d");
    EXPECT_EQ(screen.text_in_foreground(10), "prog.EFIx.tsb");
    // The colours in force before the listing are back.
    EXPECT_EQ(screen.attribute(), 0x07);

    // Filled top to bottom, then left to right.
    sh.add_directory("many");
    std::vector<std::string> names;
    for (int i = 0; i < 20; i++) {
        names.push_back(fmt("f%02d_abcdefghijkl", i));
        sh.add_file("many\\" + names.back(), "");
    }
    uint64_t columns = 0, rows = 0;
    console_size(&columns, &rows);
    ASSERT_EQ(columns, 80u);
    // width 16 + 2 = 18: four columns of five rows.
    std::string expected;
    for (int row = 0; row < 5; row++)
        expected += names[row] + "  " + names[row + 5] + "  " + names[row + 10] + "  " +
                    names[row + 15] + "\n";
    EXPECT_EQ(sh.run("ls many").out, expected);
}

TEST(FilesLs, ThousandsOfEntriesAreListedSortedAndDeletedByPattern) {
    CommandShell sh(file_commands());
    const int n = 2000;
    for (int i = n - 1; i >= 0; i--) sh.add_file(fmt("many\\F%04d.bin", i), "x");
    std::string listing = sh.output("ls many");
    std::string expected;
    for (int i = 0; i < n; i++) expected += fmt("F%04d.bin\n", i);
    EXPECT_EQ(listing, expected);
    EXPECT_EQ(sh.output("rm many\\*.bin"), "");
    EXPECT_TRUE(sim::list_directory(sh.fw, sh.boot_volume(), "many").empty());
    sh.expect_handles_closed();
}

TEST(FilesStat, ShowsDetailsAndReportsEachFailingPath) {
    CommandShell sh(file_commands());
    sh.add_file("t\\a.txt", "abc", 0x21);
    sh.add_directory("t\\d");
    ASSERT_EQ(sh.run("cd t").code, 0);
    EXPECT_EQ(sh.output("stat a.txt d"),
              "path:     fs0:\\t\\a.txt\ntype:     file\nsize:     3\n"
              "modified: 2025-03-07 14:05:09\nattrs:    readonly archive\n"
              "path:     fs0:\\t\\d\ntype:     directory\n"
              "modified: 2025-03-07 14:05:09\nattrs:   \n");
    RunResult r = sh.run_captured("stat missing fs9:\\x a*");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors,
              "stat: fs0:\\t\\missing: not found\nstat: fs9:\\x: not found\n"
              "stat: fs0:\\t\\a*: not found\n");
    EXPECT_EQ(sh.output("stat -data a.txt"),
              "name=a.txt\npath=fs0:\\t\\a.txt\ntype=file\nsize=3\nmodified=2025-03-07 14:05:09\n"
              "readonly=yes\nhidden=no\nsystem=no\narchive=yes\n");
    EXPECT_EQ(sh.run_captured("stat").code, 2);
}

TEST(FilesAttrib, ChangesAndShowsAttributes) {
    CommandShell sh(file_commands());
    sh.add_file("t\\x", "", 0);
    sh.add_file("t\\y", "", 0x20);
    sh.add_directory("t\\sub");
    sh.add_file("t\\sub\\in", "", 0x02);
    ASSERT_EQ(sh.run("cd t").code, 0);
    EXPECT_EQ(sh.output("attrib +r x"), "    R  fs0:\\t\\x\n");
    EXPECT_EQ(sh.output("attrib x"), "    R  fs0:\\t\\x\n");
    EXPECT_EQ(sim::attributes_of(sh.fw, sh.boot_volume(), "t\\x"), 0x01u);
    EXPECT_EQ(sh.output("attrib -R +A +h x"), " A H   fs0:\\t\\x\n");
    EXPECT_EQ(sim::attributes_of(sh.fw, sh.boot_volume(), "t\\x"), 0x22u);
    // A directory without a change lists its entries; with one it changes itself.
    EXPECT_EQ(sh.output("attrib sub"), "   H   fs0:\\t\\sub\\in\n");
    EXPECT_EQ(sh.output("attrib +s sub"), "D S    fs0:\\t\\sub\n");
    EXPECT_TRUE(sim::is_directory(sh.fw, sh.boot_volume(), "t\\sub"));
    // No path: everything in the current directory.
    EXPECT_EQ(sh.output("attrib"), "D S    fs0:\\t\\sub\n A H   fs0:\\t\\x\n A     fs0:\\t\\y\n");
    EXPECT_EQ(sh.output("attrib -a *"), "D S    fs0:\\t\\sub\n   H   fs0:\\t\\x\n       fs0:\\t\\y\n");

    EXPECT_EQ(sh.run_captured("attrib -x y").code, 2);
    RunResult r = sh.expect_failure("attrib +r nothing fs9:\\q y", 1, "attrib: fs0:\\t\\nothing: not found\nattrib: fs9:\\q: invalid path\n");
    EXPECT_EQ(r.out, "    R  fs0:\\t\\y\n");
    sh.expect_failure("attrib q*", 1, "attrib: q*: no match\n");
    sh.expect_handles_closed();
}

TEST(FilesVol, ShowsAndLabelsAVolume) {
    CommandShell sh(file_commands());
    sh.add_file("a.txt", std::string(1000, 'a'));
    uint64_t size = 64ull << 20;
    uint64_t free = size - sim::used_bytes(sh.fw, sh.boot_volume());
    const std::string sizes = fmt("  %12llu bytes total disk space\n  %12llu bytes available on disk\n",
                                  (unsigned long long)size, (unsigned long long)free);
    EXPECT_EQ(sh.output("vol"), "Volume fs0: <no label> (rw)\n" + sizes);
    EXPECT_EQ(sh.output("vol fs0 -n DATA"), "Volume fs0: DATA (rw)\n" + sizes);
    EXPECT_EQ(sim::volume_label(sh.fw, sh.boot_volume()), "DATA");
    EXPECT_EQ(sh.output("vol fs0:\\a.txt"), "Volume fs0: DATA (rw)\n" + sizes);
    EXPECT_EQ(sh.output("vol -data"),
              fmt("volume=fs0\nlabel=DATA\nsize=%llu\nfree=%llu\nreadonly=no\n",
                  (unsigned long long)size, (unsigned long long)free));

    for (const char* bad : {"vol -n ABCDEFGHIJKL", "vol -n A.B", "vol -n a:b"}) {
        RunResult r = sh.run_captured(bad);
        EXPECT_EQ(r.code, 1) << bad;
        EXPECT_EQ(r.errors, "vol: invalid label (at most 11 characters, no punctuation)\n") << bad;
    }
    EXPECT_EQ(sim::volume_label(sh.fw, sh.boot_volume()), "DATA");
    EXPECT_EQ(sh.output("vol -d fs0:"), "Volume fs0: <no label> (rw)\n" + sizes);
    EXPECT_EQ(sim::volume_label(sh.fw, sh.boot_volume()), "");

    sh.expect_failure("vol fs9", 1, "vol: fs9: no such volume\n");
    EXPECT_EQ(sh.run_captured("vol fs0 fs0").code, 2);
    EXPECT_EQ(sh.run_captured("vol -n").code, 2);
    EXPECT_EQ(sh.run_captured("vol -x").code, 2);
}

TEST(FilesVol, AReadOnlyVolumeRefusesALabel) {
    CommandShell sh(file_commands());
    sim::VolumeLayout setup;
    setup.read_only = true;
    setup.location.pci_device = 7;
    sim::add_volume(sh.fw, setup);
    ASSERT_EQ(sh.run("map -r").code, 0);
    sh.expect_failure("vol fs1 -n X", 1, "vol: fs1: write protected\n");
    EXPECT_EQ(sh.output("vol fs1").rfind("Volume fs1: <no label> (ro)\n", 0), 0u);
}

TEST(FilesCd, ChangesAndPrintsTheCurrentDirectory) {
    CommandShell sh(file_commands(2));
    sh.add_file("t\\a.txt", "");
    EXPECT_EQ(sh.output("cd"), "fs0:\\\n");
    EXPECT_EQ(sh.output("cd t"), "");
    EXPECT_EQ(sh.output("pwd"), "fs0:\\t\n");
    EXPECT_EQ(sh.output("cd .."), "");
    EXPECT_EQ(sh.output("cd"), "fs0:\\\n");
    EXPECT_EQ(sh.output("cd FS1:"), "");
    EXPECT_EQ(sh.output("pwd"), "fs1:\\\n");
    RunResult r = sh.expect_failure("cd fs0:\\nothing", 1, "cd: fs0:\\nothing: not found\n");
    r = sh.run_captured("cd fs0:\\t\\a.txt");
    EXPECT_EQ(r.errors, "cd: fs0:\\t\\a.txt: not a directory\n");
    r = sh.run_captured("cd fs9:");
    EXPECT_EQ(r.errors, "cd: fs9:: not found\n");
    EXPECT_EQ(sh.output("pwd"), "fs1:\\\n");
    EXPECT_EQ(sh.run_captured("cd a b").code, 2);
    EXPECT_EQ(sh.run_captured("pwd x").code, 2);
}

namespace {

std::string volume_row(CommandShell& sh, int index, const char* flags) {
    uint64_t free = (64ull << 20) - sim::used_bytes(sh.fw, sh.volumes[index]);
    char free_text[32];
    tarn::size_text(free, free_text, sizeof free_text);
    return fmt("%-6s %-16s %9s %9s  %s\n", fmt("fs%d", index).c_str(), "-", "64.0M", free_text, flags);
}

const char kVolumeHeading[] = "Volume Label                 Size      Free  Flags\n";

}  // namespace

TEST(FilesMap, ListsVolumesAndBlockDevices) {
    CommandShell sh(file_commands(2));
    sim::BlockLayout big;
    big.location.pci_device = 5;
    sim::BlockId disk = sim::add_block_device(sh.fw, big);
    sim::block_media(sh.fw, disk).last_block = (20ull << 21) - 1;  // 20 GiB of 512-byte blocks
    sim::BlockLayout empty;
    empty.location.pci_device = 6;
    empty.removable = true;
    empty.media_present = false;
    sim::BlockId drive = sim::add_block_device(sh.fw, empty);
    ASSERT_EQ(sh.run("map -r").code, 0);

    const std::string volumes = kVolumeHeading + volume_row(sh, 0, "boot ") + volume_row(sh, 1, "");
    const std::string blocks = std::string("\nDevice Type            Size  Volume\n") +
                               "blk0   partition         0M  fs0\n"
                               "blk1   partition         0M  fs1\n"
                               "blk2   disk             20G  \n"
                               "blk3   removable          -  (no media)\n";
    EXPECT_EQ(sh.output("map"), volumes + blocks);
    EXPECT_EQ(sh.output("map -t FS"), volumes);
    EXPECT_EQ(sh.output("map -t blk"), blocks);
    EXPECT_EQ(sh.output("map -t cd"), "");
    EXPECT_EQ(sh.output("map fs1:"), kVolumeHeading + volume_row(sh, 1, ""));

    std::string verbose = sh.output("map -v");
    std::string fs0_path = sim::handle_device_path_text(sh.fw, sim::volume_handle(sh.fw, sh.volumes[0]));
    std::string disk_path = sim::handle_device_path_text(sh.fw, sim::block_handle(sh.fw, disk));
    EXPECT_TRUE(contains(verbose, volume_row(sh, 0, "boot ") + "       " + fs0_path + "\n")) << verbose;
    EXPECT_TRUE(contains(verbose, "\nDevice Type            Size  Device path\n")) << verbose;
    EXPECT_TRUE(contains(verbose, "blk0   partition         0M  " + fs0_path + "  = fs0\n")) << verbose;
    EXPECT_TRUE(contains(verbose, "blk2   disk             20G  " + disk_path + "\n")) << verbose;

    std::string data = sh.output("map -data");
    EXPECT_TRUE(contains(data, "kind=volume\nvolume=fs0\nlabel=\nsize=67108864\n")) << data;
    EXPECT_TRUE(contains(data, "readonly=no\nremovable=no\nboot=yes\naliases=\ndevpath=" + fs0_path + "\n"));
    EXPECT_TRUE(contains(data, "kind=block\ndevice=blk2\ntype=disk\nmedia=yes\nsize=21474836480\n"
                               "blocksize=512\nreadonly=no\nvolume=\ndevpath=" + disk_path + "\n"))
        << data;
    EXPECT_TRUE(contains(data, "device=blk3\ntype=removable\nmedia=no\nsize=0\n")) << data;
    (void)drive;

    EXPECT_EQ(sh.run_captured("map a b c").code, 2);
    RunResult r = sh.run_captured("map -x");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(contains(r.errors, "map: unknown option -x\n")) << r.errors;
    EXPECT_EQ(sh.run_captured("map -t").code, 2);
}

TEST(FilesMap, ANameSelectsThatVolumeOnlyNotThoseItIsAPrefixOf) {
    CommandShell sh(file_commands(11));
    EXPECT_EQ(sh.output("map fs1"), kVolumeHeading + volume_row(sh, 1, ""));
    EXPECT_EQ(sh.output("map FS10:"), kVolumeHeading + volume_row(sh, 10, ""));
    RunResult r = sh.expect_failure("map fs12", 1, "map: fs12: no such volume\n");
    EXPECT_EQ(r.out, "");
}

TEST(FilesMap, ExtraNamesAreGivenUsedAndRemoved) {
    CommandShell sh(file_commands(2));
    sim::add_file(sh.fw, sh.volumes[1], "x.txt", "on fs1");
    ASSERT_EQ(sh.run("map -r").code, 0);  // the free space shown is that of the last scan
    EXPECT_EQ(sh.output("map usb fs1:"), "");
    EXPECT_EQ(sh.output("map stick: blk1"), "");
    EXPECT_EQ(sh.output("map fs1"), kVolumeHeading + volume_row(sh, 1, "also usb:;stick:"));
    EXPECT_EQ(sh.output("ls usb:"), "x.txt\n");
    EXPECT_EQ(sh.output("cd stick:"), "");
    EXPECT_EQ(sh.output("pwd"), "fs1:\\\n");

    RunResult r = sh.expect_failure("map fs0 fs1:", 1, "map: fs0 is already the name of a volume\n");
    sh.expect_failure("map -d FS0:", 1, "map: FS0 is a volume, not an extra name\n");
    // A target without a colon is not a path under the current directory.
    sh.expect_failure("map x nothing", 1, "map: nothing: not a volume, block device or handle with a file system\n");
    r = sh.run_captured("map x blk9");
    EXPECT_EQ(r.errors, "map: blk9: not a volume, block device or handle with a file system\n");

    EXPECT_EQ(sh.output("map -d usb:"), "");
    EXPECT_EQ(sh.output("map -d never"), "");
    EXPECT_EQ(sh.output("map fs1"), kVolumeHeading + volume_row(sh, 1, "also stick:"));
    EXPECT_EQ(sh.run_captured("ls usb:").code, 1);
    EXPECT_EQ(sh.run_captured("map -d").code, 2);
    EXPECT_EQ(sh.run_captured("map -d a b").code, 2);
}

TEST(FilesMap, RescanKeepsTheDirectoryOrFallsBackToTheBootVolume) {
    CommandShell sh(file_commands(2));
    sim::add_directory(sh.fw, sh.volumes[1], "d");
    sim::add_directory(sh.fw, sh.volumes[0], "keep");
    ASSERT_EQ(sh.run("map usb fs1:").code, 0);
    ASSERT_EQ(sh.run("cd fs0:\\keep").code, 0);
    // A volume whose device path sorts first renumbers the others.
    sim::VolumeLayout first;
    first.location.root = 0;
    first.location.pci_device = 0;
    sim::add_volume(sh.fw, first);
    std::string listing = sh.output("map -r -t fs");
    EXPECT_TRUE(contains(listing, "\nfs2 ")) << listing;
    // "fs0:\keep" now names the new volume, where there is no such directory: back to
    // the boot volume, now fs1.
    EXPECT_EQ(sh.output("pwd"), "fs1:\\\n");
    // The extra name follows the number.
    EXPECT_EQ(sh.output("ls usb:"), "keep\\\n");
}
