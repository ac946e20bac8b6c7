// File operations over the simulated firmware, their error codes and injected failures.
#include <string>
#include <vector>

#include "handles.h"
#include "runtime/output.h"
#include "test_fs_support.h"
#include "uefi/guids.h"

using namespace tarn;
using fs_test::FsTest;
using fs_test::take_text;

namespace {

class FileTest : public FsTest {
protected:
    sim::VolumeId v0 = 0, v1 = 0;
    void SetUp() override {
        FsTest::SetUp();
        v0 = add(1, "MAIN");
        v1 = add(2, "OTHER");
        sim::add_file(fw, v0, "\\hello.txt", "hello, world\n");
        sim::add_directory(fw, v0, "\\Docs");
        sim::add_file(fw, v0, "\\Docs\\a.txt", "a");
        sim::add_directory(fw, v0, "\\empty");
        sim::add_file(fw, v0, "\\locked.txt", "keep", efi::kFileReadOnly | efi::kFileArchive);
        sim::set_boot_volume(fw, v0);
        initialize_volumes();
    }
    std::string read(const char* path, ShellError* err = nullptr) {
        char* data = nullptr;
        uint64_t n = 0;
        ShellError e = read_whole_file(path, &data, &n);
        if (err) *err = e;
        if (e != kOk) return "<error>";
        EXPECT_EQ(data[n], 0);
        std::string s(data, n);
        release(data);
        return s;
    }
    std::string text(const char* path) {
        char* data = nullptr;
        uint64_t n = 0;
        EXPECT_EQ(read_text_file(path, &data, &n), kOk);
        if (!data) return "<error>";
        std::string s(data, n);
        EXPECT_EQ(strlen(data), n);
        release(data);
        return s;
    }
};

TEST_F(FileTest, WholeFilesRoundTrip) {
    EXPECT_EQ(read("fs0:\\hello.txt"), "hello, world\n");
    EXPECT_EQ(read("fs0:\\HELLO.TXT"), "hello, world\n");
    std::string big(100000, 'x');
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(write_whole_file("fs0:\\Docs\\big.bin", big.data(), big.size()), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\Docs\\big.bin"), big);
    EXPECT_EQ(read("fs0:\\docs\\BIG.bin"), big);
    // Rewriting truncates.
    ASSERT_EQ(write_whole_file("fs0:\\Docs\\big.bin", "short", 5), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\Docs\\big.bin"), "short");
    ASSERT_EQ(write_whole_file("fs0:\\empty.txt", "", 0), kOk);
    EXPECT_EQ(read("fs0:\\empty.txt"), "");
}

TEST_F(FileTest, WholeFileErrors) {
    ShellError err = kOk;
    read("fs0:\\missing", &err);
    EXPECT_EQ(err, kErrNotFound);
    read("fs0:\\Docs", &err);
    EXPECT_EQ(err, kErrIsDirectory);
    read("fs0:\\", &err);
    EXPECT_EQ(err, kErrIsDirectory);
    read("fs5:\\x", &err);
    EXPECT_EQ(err, kErrNotFound);
    EXPECT_EQ(write_whole_file("fs0:\\Docs", "x", 1), kErrIsDirectory);
    EXPECT_EQ(write_whole_file("fs0:\\locked.txt", "x", 1), kErrAccessDenied);
    EXPECT_EQ(sim::read_file(fw, v0, "\\locked.txt"), "keep");
    EXPECT_EQ(write_whole_file("fs0:\\nodir\\x", "x", 1), kErrNotFound);
    // Names with wildcard characters are refused by the file system; nothing is created.
    EXPECT_EQ(write_whole_file("fs0:\\a*b", "x", 1), kErrInvalidParameter);
    EXPECT_EQ(write_whole_file("fs0:\\a?", "x", 1), kErrInvalidParameter);
    EXPECT_EQ(sim::list_directory(fw, v0, "\\").size(), 4u);
}

TEST_F(FileTest, VeryLongPaths) {
    std::string long_name = "fs0:\\" + std::string(5000, 'n');
    EXPECT_EQ(write_whole_file(long_name.c_str(), "x", 1), kErrInvalidParameter);
    EXPECT_EQ(make_directory(long_name.c_str()), kErrInvalidParameter);
    std::string deep = "fs0:";
    for (int i = 0; i < 3000; i++) deep += "\\Docs";
    FileStat st{};
    EXPECT_EQ(file_stat(deep.c_str(), &st), kErrNotFound);
    EXPECT_EQ(write_whole_file((deep + "\\f").c_str(), "x", 1), kErrNotFound);
    efi::DevicePath* path = nullptr;
    EXPECT_EQ(file_device_path(("fs0:\\" + std::string(40000, 'p')).c_str(), &path),
              kErrInvalidParameter);
    EXPECT_EQ(path, nullptr);
    EXPECT_EQ(sim::list_directory(fw, v0, "\\").size(), 4u);
}

TEST_F(FileTest, FileLargerThanMemoryFailsCleanly) {
    sim::set_reported_size(fw, v0, "\\hello.txt", 1ull << 60);
    ShellError err = kOk;
    read("fs0:\\hello.txt", &err);
    EXPECT_EQ(err, kErrOutOfMemory);
    sim::set_reported_size(fw, v0, "\\hello.txt", ~0ull);
    read("fs0:\\hello.txt", &err);
    EXPECT_EQ(err, kErrOutOfMemory);
    // A size that is too small is only a hint: the reads decide the length.
    sim::set_reported_size(fw, v0, "\\hello.txt", 2);
    EXPECT_EQ(read("fs0:\\hello.txt"), "hello, world\n");
    // The pool running out while the buffer grows gives the same error.
    sim::set_reported_size(fw, v0, "\\hello.txt", 0);
    std::string big(20000, 'q');
    sim::add_file(fw, v0, "\\grow.bin", big);
    sim::set_reported_size(fw, v0, "\\grow.bin", 1);
    fw.fail_allocations_from(3);
    read("fs0:\\grow.bin", &err);
    fw.fail_allocations_from(-1);
    EXPECT_EQ(err, kErrOutOfMemory);
}

TEST_F(FileTest, OpenFlags) {
    File* f = nullptr;
    EXPECT_EQ(file_open("fs0:\\Docs", kOpenWrite, &f), kErrIsDirectory);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(file_open("fs0:\\Docs", kOpenAppend, &f), kErrIsDirectory);
    EXPECT_EQ(file_open("fs0:\\", kOpenWrite, &f), kErrIsDirectory);
    EXPECT_EQ(file_open("fs0:\\missing", 0, &f), kErrNotFound);
    EXPECT_EQ(file_open("fs0:\\missing", kOpenWrite, &f), kErrNotFound);

    ASSERT_EQ(file_open("fs0:\\hello.txt", kOpenAppend, &f), kOk);
    EXPECT_EQ(file_write_all(f, "more\n", 5), kOk);
    EXPECT_EQ(file_close(f), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\hello.txt"), "hello, world\nmore\n");

    ASSERT_EQ(file_open("fs0:\\hello.txt", kOpenWrite | kOpenTruncate, &f), kOk);
    EXPECT_EQ(file_write_all(f, "new", 3), kOk);
    EXPECT_EQ(file_close(f), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\hello.txt"), "new");

    ASSERT_EQ(file_open("fs0:\\Docs\\made.txt", kOpenWrite | kOpenCreate, &f), kOk);
    EXPECT_EQ(file_seek(f, 4), kOk);
    EXPECT_EQ(file_write_all(f, "x", 1), kOk);
    EXPECT_EQ(file_close(f), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\Docs\\made.txt"), std::string("\0\0\0\0x", 5));

    // Reading is always allowed; a read-only open refuses writes.
    ASSERT_EQ(file_open("fs0:\\hello.txt", 0, &f), kOk);
    char buf[8];
    uint64_t n = 0;
    EXPECT_EQ(file_read(f, buf, sizeof buf, &n), kOk);
    EXPECT_EQ(std::string(buf, n), "new");
    EXPECT_EQ(file_read(f, buf, sizeof buf, &n), kOk);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(file_write_all(f, "x", 1), kErrAccessDenied);
    EXPECT_EQ(file_close(f), kOk);
    EXPECT_EQ(file_close(nullptr), kErrInvalidParameter);
}

TEST_F(FileTest, InjectedWriteFailures) {
    sim::fail_writes_after(fw, v0, 0);
    EXPECT_EQ(write_whole_file("fs0:\\w.txt", "data", 4), kErrIo);
    sim::fail_writes_after(fw, v0, -1);
    // The open that truncated the file happened; its content is gone, not corrupted.
    sim::set_free_space(fw, v0, 10);
    EXPECT_EQ(write_whole_file("fs0:\\full.bin", "0123456789ABCDEF", 16), kErrVolumeFull);
    EXPECT_EQ(sim::read_file(fw, v0, "\\full.bin"), "0123456789");
    sim::inject_file_error(fw, v0, sim::FileOp::Open, efi::kAccessDenied);
    EXPECT_EQ(write_whole_file("fs0:\\x.txt", "x", 1), kErrAccessDenied);
    EXPECT_FALSE(sim::exists(fw, v0, "\\x.txt"));
    sim::inject_file_error(fw, v0, sim::FileOp::OpenVolume, efi::kNoMedia);
    EXPECT_EQ(write_whole_file("fs0:\\x.txt", "x", 1), kErrNoMedia);
    sim::inject_file_error(fw, v0, sim::FileOp::Read, efi::kDeviceError);
    ShellError err = kOk;
    read("fs0:\\hello.txt", &err);
    EXPECT_EQ(err, kErrIo);
    sim::inject_file_error(fw, v0, sim::FileOp::SetInfo, efi::kWriteProtected);
    EXPECT_EQ(write_whole_file("fs0:\\hello.txt", "x", 1), kErrWriteProtected);
    EXPECT_EQ(sim::read_file(fw, v0, "\\hello.txt"), "hello, world\n");
    sim::inject_file_error(fw, v0, sim::FileOp::SetPosition, efi::kDeviceError);
    File* f = nullptr;
    EXPECT_EQ(file_open("fs0:\\hello.txt", kOpenAppend, &f), kErrIo);
    sim::inject_file_error(fw, v0, sim::FileOp::GetInfo, efi::kSecurityViolation);
    FileStat st{};
    EXPECT_EQ(file_stat("fs0:\\hello.txt", &st), kErrSecurityViolation);
}

TEST_F(FileTest, ReadOnlyMedium) {
    sim::VolumeId ro = add(3, "RO", true);
    sim::add_file(fw, ro, "\\f.txt", "ro");
    rescan_volumes();
    EXPECT_TRUE(volume_at(2)->read_only);
    EXPECT_EQ(write_whole_file("fs2:\\f.txt", "x", 1), kErrWriteProtected);
    EXPECT_EQ(write_whole_file("fs2:\\new.txt", "x", 1), kErrWriteProtected);
    EXPECT_EQ(make_directory("fs2:\\d"), kErrWriteProtected);
    EXPECT_EQ(remove_path("fs2:\\f.txt"), kErrWriteProtected);
    EXPECT_EQ(set_attributes("fs2:\\f.txt", efi::kFileHidden), kErrWriteProtected);
    EXPECT_EQ(read("fs2:\\f.txt"), "ro");
}

TEST_F(FileTest, Stat) {
    FileStat st{};
    ASSERT_EQ(file_stat("fs0:\\hello.txt", &st), kOk);
    EXPECT_EQ(st.name, nullptr);
    EXPECT_EQ(st.size, 13u);
    EXPECT_FALSE(st.is_directory);
    EXPECT_EQ(st.attributes, efi::kFileArchive);
    efi::Time t = sim::modification_time(fw, v0, "\\hello.txt");
    EXPECT_EQ(st.modified.year, t.year);
    EXPECT_EQ(st.modified.second, t.second);
    ASSERT_EQ(file_stat("fs0:\\docs", &st), kOk);
    EXPECT_TRUE(st.is_directory);
    ASSERT_EQ(file_stat("fs0:\\", &st), kOk);
    EXPECT_TRUE(st.is_directory);
    EXPECT_EQ(file_stat("fs0:\\hello.txt\\x", &st), kErrNotFound);
    EXPECT_EQ(file_stat("fs9:\\", &st), kErrNotFound);
    EXPECT_EQ(file_stat("nocolon", &st), kErrNotFound);
}

TEST_F(FileTest, DirectoryEntries) {
    std::string long_name(255, 'L');
    sim::add_file(fw, v0, "\\Docs\\" + long_name, "long");
    sim::add_directory(fw, v0, "\\Docs\\Sub");
    Directory* d = nullptr;
    ASSERT_EQ(open_directory("fs0:\\docs", &d), kOk);
    std::vector<std::string> names;
    FileStat st{};
    int r;
    while ((r = next_entry(d, &st)) == 1) {
        names.push_back(st.name);
        if (names.back() == "Sub") EXPECT_TRUE(st.is_directory);
        if (names.back() == long_name) EXPECT_EQ(st.size, 4u);
    }
    EXPECT_EQ(r, 0);
    close_directory(d);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", long_name, "Sub"}));

    ASSERT_EQ(open_directory("fs0:\\empty", &d), kOk);
    EXPECT_EQ(next_entry(d, &st), 0);
    close_directory(d);
    EXPECT_EQ(open_directory("fs0:\\hello.txt", &d), kErrNotDirectory);
    EXPECT_EQ(open_directory("fs0:\\none", &d), kErrNotFound);

    ASSERT_EQ(open_directory("fs0:\\docs", &d), kOk);
    sim::inject_file_error(fw, v0, sim::FileOp::Read, efi::kDeviceError);
    EXPECT_EQ(next_entry(d, &st), kErrIo);
    close_directory(d);
}

TEST_F(FileTest, MakeDirectory) {
    ASSERT_EQ(make_directory("fs0:\\New"), kOk);
    EXPECT_TRUE(sim::is_directory(fw, v0, "\\new"));
    EXPECT_EQ(sim::stored_name(fw, v0, "\\new"), "New");
    EXPECT_EQ(make_directory("fs0:\\NEW"), kErrAlreadyExists);
    EXPECT_EQ(make_directory("fs0:\\hello.TXT"), kErrAlreadyExists);
    EXPECT_EQ(make_directory("fs0:\\"), kErrAlreadyExists);
    EXPECT_EQ(make_directory("fs0:\\no\\such"), kErrNotFound);
    EXPECT_EQ(make_directory("fs0:\\bad*name"), kErrInvalidParameter);
    EXPECT_EQ(make_directory("fs0:\\bad|name"), kErrInvalidParameter);
    EXPECT_EQ(make_directory("fs8:\\x"), kErrNotFound);
    EXPECT_EQ(sim::list_directory(fw, v0, "\\").size(), 5u);
}

TEST_F(FileTest, RemovePath) {
    EXPECT_EQ(remove_path("fs0:\\Docs"), kErrDirectoryNotEmpty);
    EXPECT_TRUE(sim::exists(fw, v0, "\\Docs\\a.txt"));
    EXPECT_EQ(remove_path("fs0:\\locked.txt"), kErrAccessDenied);
    EXPECT_TRUE(sim::exists(fw, v0, "\\locked.txt"));
    EXPECT_EQ(remove_path("fs0:\\missing"), kErrNotFound);
    EXPECT_EQ(remove_path("fs0:\\"), kErrDirectoryNotEmpty);
    // An empty root: the firmware refuses to delete it.
    EXPECT_EQ(remove_path("fs1:\\"), kErrAccessDenied);
    EXPECT_EQ(remove_path("fs0:\\docs\\A.TXT"), kOk);
    EXPECT_FALSE(sim::exists(fw, v0, "\\Docs\\a.txt"));
    EXPECT_EQ(remove_path("fs0:\\Docs"), kOk);
    EXPECT_EQ(remove_path("fs0:\\empty"), kOk);
    EXPECT_FALSE(sim::exists(fw, v0, "\\empty"));
    // The firmware's refusal to delete comes back as "access denied".
    sim::inject_file_error(fw, v0, sim::FileOp::Delete, 2);
    EXPECT_EQ(remove_path("fs0:\\hello.txt"), kErrAccessDenied);
    EXPECT_TRUE(sim::exists(fw, v0, "\\hello.txt"));
}

TEST_F(FileTest, RenamePath) {
    ASSERT_EQ(rename_path("fs0:\\hello.txt", "fs0:\\greeting.txt"), kOk);
    EXPECT_FALSE(sim::exists(fw, v0, "\\hello.txt"));
    EXPECT_EQ(sim::read_file(fw, v0, "\\greeting.txt"), "hello, world\n");
    // Into another directory with the full path from the root.
    ASSERT_EQ(rename_path("fs0:\\greeting.txt", "fs0:\\Docs\\g.txt"), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\Docs\\g.txt"), "hello, world\n");
    // Onto an existing name: refused, both kept.
    EXPECT_EQ(rename_path("fs0:\\Docs\\g.txt", "fs0:\\Docs\\A.TXT"), kErrAccessDenied);
    EXPECT_EQ(sim::read_file(fw, v0, "\\Docs\\a.txt"), "a");
    EXPECT_EQ(rename_path("fs0:\\Docs\\g.txt", "fs1:\\g.txt"), kErrNotSupported);
    EXPECT_EQ(rename_path("fs0:\\missing", "fs0:\\x"), kErrNotFound);
    EXPECT_EQ(rename_path("fs0:\\Docs", "fs0:\\Docs\\inner"), kErrAccessDenied);
    EXPECT_EQ(rename_path("fs0:\\Docs\\g.txt", "fs0:\\bad?name"), kErrInvalidParameter);
    EXPECT_EQ(rename_path("fs0:\\Docs\\g.txt", "fs0:\\"), kErrInvalidParameter);
    EXPECT_TRUE(sim::exists(fw, v0, "\\Docs\\g.txt"));
    // A directory moves with its contents.
    ASSERT_EQ(rename_path("fs0:\\Docs", "fs0:\\empty\\Moved"), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\empty\\Moved\\g.txt"), "hello, world\n");
}

TEST_F(FileTest, RenameCaseOnly) {
    // A change of case only: the firmware alone would keep the old spelling (as OVMF's
    // FAT driver does), so the rename goes through a temporary name.
    ASSERT_EQ(rename_path("fs0:\\Docs\\a.txt", "fs0:\\Docs\\A.txt"), kOk);
    EXPECT_EQ(sim::stored_name(fw, v0, "\\docs\\a.txt"), "A.txt");
    EXPECT_EQ(sim::list_directory(fw, v0, "\\Docs"), (std::vector<std::string>{"A.txt"}));
    sim::add_file(fw, v0, "\\Docs\\A.txt.tn0", "taken");
    ASSERT_EQ(rename_path("fs0:\\Docs\\A.txt", "fs0:\\Docs\\a.TXT"), kOk);
    EXPECT_EQ(sim::stored_name(fw, v0, "\\docs\\a.txt"), "a.TXT");
    EXPECT_EQ(sim::read_file(fw, v0, "\\Docs\\A.txt.tn0"), "taken");
    EXPECT_EQ(sim::read_file(fw, v0, "\\Docs\\a.txt"), "a");
    EXPECT_EQ(rename_path("fs0:\\Docs\\none", "fs0:\\Docs\\NONE"), kErrNotFound);
    // The second step failing puts the old name back.
    sim::inject_file_error(fw, v0, sim::FileOp::SetInfo, efi::kDeviceError, 1);
    EXPECT_EQ(rename_path("fs0:\\Docs\\a.TXT", "fs0:\\Docs\\A.TXT"), kErrIo);
    EXPECT_EQ(sim::stored_name(fw, v0, "\\docs\\a.txt"), "a.TXT");
}

TEST_F(FileTest, Attributes) {
    ASSERT_EQ(set_attributes("fs0:\\hello.txt", 0xff), kOk);
    EXPECT_EQ(sim::attributes_of(fw, v0, "\\hello.txt"), 0x27u);
    ASSERT_EQ(set_attributes("fs0:\\Docs", efi::kFileHidden), kOk);
    EXPECT_EQ(sim::attributes_of(fw, v0, "\\Docs"), efi::kFileDirectory | efi::kFileHidden);
    // A read-only file refuses the read-write open; the read-only open still changes it.
    ASSERT_EQ(set_attributes("fs0:\\locked.txt", efi::kFileArchive), kOk);
    EXPECT_EQ(sim::attributes_of(fw, v0, "\\locked.txt"), efi::kFileArchive);
    EXPECT_EQ(write_whole_file("fs0:\\locked.txt", "now", 3), kOk);
    EXPECT_EQ(set_attributes("fs0:\\none", 0), kErrNotFound);
}

TEST_F(FileTest, SizeAndTime) {
    ASSERT_EQ(set_size("fs0:\\hello.txt", 5), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\hello.txt"), "hello");
    ASSERT_EQ(set_size("fs0:\\hello.txt", 8), kOk);
    EXPECT_EQ(sim::read_file(fw, v0, "\\hello.txt"), std::string("hello\0\0\0", 8));
    EXPECT_EQ(set_size("fs0:\\Docs", 0), kErrIsDirectory);
    EXPECT_EQ(set_size("fs0:\\locked.txt", 0), kErrAccessDenied);
    sim::set_free_space(fw, v0, 100);
    EXPECT_EQ(set_size("fs0:\\hello.txt", 1000), kErrVolumeFull);

    FileTime when{2031, 7, 4, 13, 14, 15};
    ASSERT_EQ(set_time("fs0:\\hello.txt", when), kOk);
    efi::Time m = sim::modification_time(fw, v0, "\\hello.txt");
    efi::Time a = sim::last_access_time(fw, v0, "\\hello.txt");
    EXPECT_EQ(m.year, 2031);
    EXPECT_EQ(m.month, 7);
    EXPECT_EQ(m.day, 4);
    EXPECT_EQ(m.hour, 13);
    EXPECT_EQ(m.minute, 14);
    EXPECT_EQ(m.second, 15);
    EXPECT_EQ(m.nanosecond, 0u);
    EXPECT_EQ(a.year, 2031);
    EXPECT_EQ(a.second, 15);
    FileStat st{};
    ASSERT_EQ(file_stat("fs0:\\hello.txt", &st), kOk);
    EXPECT_EQ(st.modified.minute, 14);
    EXPECT_EQ(set_time("fs0:\\hello.txt", FileTime{2031, 13, 1, 0, 0, 0}), kErrInvalidParameter);
}

TEST_F(FileTest, TextDecoding) {
    sim::add_file(fw, v0, "\\ucs2.txt",
                  std::string("\xff\xfe" "a\0\r\0\n\0\xe9\0\xac\x20\x3d\xd8", 14));
    EXPECT_EQ(text("fs0:\\ucs2.txt"), "a\n\xc3\xa9\xe2\x82\xac\xed\xa0\xbd");
    sim::add_file(fw, v0, "\\odd.txt", std::string("\xff\xfe" "A\0B", 5));
    EXPECT_EQ(text("fs0:\\odd.txt"), "A");
    sim::add_file(fw, v0, "\\bom.txt", "\xef\xbb\xbfline\r\nnext\r");
    EXPECT_EQ(text("fs0:\\bom.txt"), "line\nnext");
    sim::add_file(fw, v0, "\\plain.txt", "a\rb\r\n\xef\xbb\xbf");
    EXPECT_EQ(text("fs0:\\plain.txt"), "ab\n\xef\xbb\xbf");
    sim::add_file(fw, v0, "\\markonly.txt", "\xff\xfe");
    EXPECT_EQ(text("fs0:\\markonly.txt"), "");
    sim::add_file(fw, v0, "\\short.txt", "\xff");
    EXPECT_EQ(text("fs0:\\short.txt"), "\xff");
    char* out = nullptr;
    uint64_t n = 0;
    EXPECT_EQ(read_text_file("fs0:\\Docs", &out, &n), kErrIsDirectory);
    EXPECT_EQ(out, nullptr);
}

TEST_F(FileTest, DecodeText) {
    uint64_t n = 99;
    char* s = decode_text(reinterpret_cast<const uint8_t*>(""), 0, &n);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_STREQ(s, "");
    release(s);
    const uint8_t wide[] = {0xff, 0xfe, 0x00, 0x00, 0x41, 0x00, 0xff, 0xff};
    s = decode_text(wide, sizeof wide, &n);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s, n), std::string("\0A\xef\xbf\xbf", 5));
    release(s);
}

TEST_F(FileTest, DevicePathOfAFile) {
    efi::DevicePath* path = nullptr;
    ASSERT_EQ(file_device_path("fs0:\\EFI\\tool.efi", &path), kOk);
    EXPECT_EQ(sim::device_path_text(path),
              "PciRoot(0x0)/Pci(0x1,0x0)/HD(1,MBR,0x00001000,0x800,0x80)/\\EFI\\tool.efi");
    release(path);
    EXPECT_EQ(file_device_path("fs4:\\x", &path), kErrNotFound);
    EXPECT_EQ(file_device_path("nocolon", &path), kErrInvalidParameter);
    sim::VolumeLayout setup;
    setup.device_path = false;
    setup.location.pci_device = 9;
    sim::add_volume(fw, setup);
    rescan_volumes();
    EXPECT_EQ(std::string(volume_at(0)->device_path_text), "");
    EXPECT_NE(file_device_path("fs0:\\x", &path), kOk);
    EXPECT_EQ(path, nullptr);
}

TEST_F(FileTest, StatRecord) {
    FileStat st{};
    // A read-only file keeps its name and size, but its times may change.
    ASSERT_EQ(set_time("fs0:\\locked.txt", FileTime{2024, 2, 3, 4, 5, 6}), kOk);
    EXPECT_EQ(rename_path("fs0:\\locked.txt", "fs0:\\unlocked.txt"), kErrAccessDenied);
    ASSERT_EQ(file_stat("fs0:\\locked.txt", &st), kOk);
    StringBuffer out;
    ASSERT_EQ(push_capture(&out), 0);
    set_data_mode(true);
    file_stat_record("fs0:\\locked.txt", st);
    set_data_mode(false);
    ASSERT_EQ(pop_redirection(), 0);
    std::string s = out.c_str();
    EXPECT_NE(s.find("name=locked.txt\npath=fs0:\\locked.txt\ntype=file\nsize=4\n"
                     "modified=2024-02-03 04:05:06\nreadonly=yes\nhidden=no\nsystem=no\n"
                     "archive=yes\n"),
              std::string::npos)
        << s;
}

TEST_F(FileTest, RedirectionHooks) {
    fs_install_hooks();
    ASSERT_EQ(push_file("fs0:\\out.txt", false), 0);
    out_text("first\n");
    ASSERT_EQ(pop_redirection(), 0);
    ASSERT_EQ(push_file("out.txt", true), 0);
    out_printf("%s\n", "second");
    ASSERT_EQ(pop_redirection(), 0);
    EXPECT_EQ(sim::read_file(fw, v0, "\\out.txt"), "first\nsecond\n");
    ASSERT_EQ(push_file("fs0:\\OUT.TXT", false), 0);
    out_text("third\n");
    ASSERT_EQ(pop_redirection(), 0);
    EXPECT_EQ(sim::read_file(fw, v0, "\\out.txt"), "third\n");
    EXPECT_EQ(push_file("fs0:\\Docs", false), kErrIsDirectory);
    EXPECT_EQ(push_file("fs6:\\x", false), kErrNotFound);
    sim::fail_writes_after(fw, v0, 0);
    ASSERT_EQ(push_file("fs0:\\err.txt", false), 0);
    out_text("lost\n");
    EXPECT_EQ(pop_redirection(), kErrIo);
}

}  // namespace

namespace {

// The simulated File protocol itself, where its FAT rules are easiest to see.
TEST_F(FileTest, SimulatedFatRules) {
    auto* sfs = static_cast<efi::SimpleFileSystem*>(
        fw.handles().find(sim::volume_handle(fw, v0), efi::kSimpleFileSystemProtocolGuid));
    ASSERT_NE(sfs, nullptr);
    efi::FileProtocol* root = nullptr;
    ASSERT_EQ(sfs->open_volume(sfs, &root), efi::kSuccess);
    efi::FileProtocol* file = nullptr;
    // Create needs read and write; names are found whatever their case.
    EXPECT_EQ(root->open(root, &file, u"HELLO.TXT", efi::kFileModeRead | efi::kFileModeCreate, 0),
              efi::kInvalidParameter);
    ASSERT_EQ(root->open(root, &file, u"HELLO.TXT", efi::kFileModeRead | efi::kFileModeWrite, 0),
              efi::kSuccess);
    alignas(8) uint8_t buffer[256];
    uint64_t size = 10;
    EXPECT_EQ(file->get_info(file, &efi::kFileInfoGuid, &size, buffer), efi::kBufferTooSmall);
    EXPECT_EQ(size, efi::kFileInfoNameOffset + 20u);
    size = sizeof buffer;
    ASSERT_EQ(file->get_info(file, &efi::kFileInfoGuid, &size, buffer), efi::kSuccess);
    auto* info = reinterpret_cast<efi::FileInfo*>(buffer);
    // A rename that changes only the case succeeds and keeps the old spelling.
    info->file_name[0] = u'H';
    EXPECT_EQ(file->set_info(file, &efi::kFileInfoGuid, size, info), efi::kSuccess);
    EXPECT_EQ(sim::stored_name(fw, v0, "\\hello.txt"), "hello.txt");
    // Directory reads give one entry a call and the size needed when the buffer is short.
    efi::FileProtocol* dir = nullptr;
    ASSERT_EQ(root->open(root, &dir, u"\\Docs", efi::kFileModeRead, 0), efi::kSuccess);
    std::vector<std::string> names;
    for (;;) {
        size = 4;
        efi::Status st = dir->read(dir, &size, buffer);
        if (st == efi::kSuccess && size == 0) break;
        ASSERT_EQ(st, efi::kBufferTooSmall);
        uint64_t need = size;
        ASSERT_EQ(dir->read(dir, &size, buffer), efi::kSuccess);
        EXPECT_EQ(size, need);
        std::u16string n(reinterpret_cast<efi::FileInfo*>(buffer)->file_name);
        names.push_back(std::string(n.begin(), n.end()));
    }
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.txt"}));
    // Delete always closes, even when it refuses (the handle is read-only).
    efi::FileProtocol* ro = nullptr;
    ASSERT_EQ(root->open(root, &ro, u"Docs\\a.txt", efi::kFileModeRead, 0), efi::kSuccess);
    EXPECT_EQ(ro->delete_file(ro), 2u);
    EXPECT_TRUE(sim::exists(fw, v0, "\\Docs\\a.txt"));
    EXPECT_EQ(dir->close(dir), efi::kSuccess);
    EXPECT_EQ(file->close(file), efi::kSuccess);
    EXPECT_EQ(root->close(root), efi::kSuccess);
    EXPECT_EQ(sim::open_file_count(fw), 0);
    // A closed handle is refused and counted.
    EXPECT_EQ(root->close(root), efi::kInvalidParameter);
    EXPECT_EQ(sim::file_misuse_count(fw), 1);
    sim::reset_misuse_count(fw);
}

}  // namespace
