// hexedit over the simulated console: files, disk blocks and memory, keys typed.
#include <gtest/gtest.h>

#include <string>

#include "command_test.h"
#include "editor_keys.h"
#include "phys_memory.h"
#include "platform/secure_boot.h"
#include "uefi/guids.h"

using namespace tarn;
using namespace tarn_test;

namespace {

std::string case_name(const char* name) {
    std::string n = name;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

struct FileCase {
    const char* name;
    std::string initial;  // kMissing: no file
    std::string keys;
    std::string expected;
    const char* shown = nullptr;
};

const char* const kMissing = "<missing>";

std::string run_of(int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += static_cast<char>(i);
    return s;
}

const FileCase kFileCases[] = {
    {"nibbles then the next byte", "\x11\x22", "A5{^S}{^Q}", "\xa5\x22", "Saved"},
    {"low nibble stays on the last byte", "\x11", "12345{^S}{^Q}", "\x15"},
    {"other characters do nothing", "\x11", "xz{^S}{^Q}", "\x11"},
    {"right and left move by nibbles", "\x11\x22", "{Right}f{Left}{Left}e{^S}{^Q}", "\xef\x22"},
    {"down needs a whole row", run_of(20), "{Down}ff{Down}ee{^S}{^Q}",
     std::string("\0\1\2\3\4\5\6\7\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\xff\xee\x12\x13", 20)},
    {"up needs sixteen bytes", run_of(4), "{Right}{Right}{Up}ff{^S}{^Q}", std::string("\0\xff\2\3", 4)},
    {"home and end of a row", run_of(20), "{End}ff{Home}{Down}{End}ee{^S}{^Q}",
     run_of(15) + "\xff" + run_of(20).substr(16, 3) + "\xee"},
    {"ascii replaces and moves", "abc", "{Tab}XY{^S}{^Q}", "XYc", "ASCII"},
    {"ascii at the last byte stays", "ab", "{Tab}{End}XYZ{^S}{^Q}", "aZ"},
    {"insert and delete", "abc", "{Right}{Right}{Ins}{Del}{Del}{Ins}{^S}{^Q}", std::string("a\0c", 3)},
    {"delete the only byte", "a", "{Del}{Del}{^S}{^Q}", ""},
    {"new file grows from the first key", kMissing, "4{^S}{^Q}", "\x40", "New file"},
    {"go to offset", run_of(32), "{^G}1f{Enter}aa{F1}40{Enter}bb{^S}{^Q}", run_of(31) + "\xab"},
    {"exit with changes asks: no", "a", "0{^Q}n", "a", "Data modified. Save it?"},
    {"exit with changes asks: yes", "a", "0{F3}y", std::string("\x01", 1)},
    {"exit cancelled", "a", "0{Esc}c{^Q}y", std::string("\x01", 1)},
    {"text commands do nothing", "a", "{^K}{F7}{^F}{^S}{^Q}", "a"},
};

class HexeditFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(HexeditFile, LeavesTheExpectedBytes) {
    const FileCase& c = GetParam();
    CommandShell sh(text_commands());
    if (c.initial != kMissing) sh.add_file("h.bin", c.initial);
    type_keys(sh.fw, c.keys);
    RunResult r = sh.run("hexedit h.bin");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(sh.fw.pending_keys(), 0u);
    EXPECT_EQ(sh.file_content("h.bin"), c.expected);
    if (c.shown) EXPECT_NE(sh.screen().transcript().find(c.shown), std::string::npos) << c.shown;
}

INSTANTIATE_TEST_SUITE_P(Keys, HexeditFile, ::testing::ValuesIn(kFileCases),
                         [](const auto& info) { return case_name(info.param.name); });

TEST(Hexedit, ScreenShowsOffsetsHexAndCharacters) {
    CommandShell sh;
    sh.add_file("h.bin", "Hi\x01" + std::string(14, 'z'));
    std::string seen;
    type_keys(sh.fw, "{Down}");
    sh.fw.set_key_source([&](uint64_t) {
        if (seen.empty()) {
            seen = sh.screen().row_text(1) + "|" + sh.screen().row_text(2) + "|" + sh.screen().row_text(23);
            sh.fw.push_key(0x11, 0);
            return sim::SimFirmware::KeySourceResult::kKeys;
        }
        return sim::SimFirmware::KeySourceResult::kTimeout;
    });
    EXPECT_EQ(sh.run("hexedit -F h.bin").code, 0);
    EXPECT_EQ(seen,
              "0000000000  48 69 01 7A 7A 7A 7A 7A  7A 7A 7A 7A 7A 7A 7A 7A  Hi.zzzzzzzzzzzzz|"
              "0000000010  7A                                                z|"
              "  Offset 10  HEX");
}

TEST(Hexedit, ArgumentErrors) {
    CommandShell sh;
    const struct {
        const char* line;
        int code;
        const char* error;
    } kCases[] = {
        {"hexedit", 2, "usage: "},
        {"hexedit -x a", 2, "usage: "},
        {"hexedit -d fs0: 0 101", 1, "hexedit: -d DEVICE LBA COUNT (hexadecimal, COUNT up to 100)\n"},
        {"hexedit -d fs0: 0 0", 1, "hexedit: -d DEVICE LBA COUNT (hexadecimal, COUNT up to 100)\n"},
        {"hexedit -d fs0: zz 1", 1, "hexedit: -d DEVICE LBA COUNT (hexadecimal, COUNT up to 100)\n"},
        {"hexedit -d nothing9 0 1", 1, "hexedit: cannot read nothing9\n"},
        {"hexedit -d fs0: 7F 2", 1, "hexedit: cannot read fs0:\n"},
        {"hexedit -m 1000 100001", 1, "hexedit: -m ADDRESS SIZE (hexadecimal, SIZE up to 100000)\n"},
        {"hexedit -m 1000 0", 1, "hexedit: -m ADDRESS SIZE (hexadecimal, SIZE up to 100000)\n"},
        {"hexedit fs9:\\x", 1, "hexedit: fs9:\\x: invalid path\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.line);
        RunResult r = sh.run(c.line);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.errors.find(c.error), std::string::npos) << r.errors;
    }
}

// The volume's Block I/O image: 128 blocks of 512 bytes.
struct DiskCase {
    const char* name;
    std::string keys;
    bool written;
    const char* shown;
};

const DiskCase kDiskCases[] = {
    {"written after yes", "ab{^S}y{^Q}", true, "Saved"},
    {"kept after no", "ab{^S}n{^Q}yn{^Q}n", false, "Write the blocks back to the disk? (y/n)"},
    {"size cannot change", "{Ins}{Del}{^Q}", false, "The size of disk blocks and memory cannot change"},
    {"go to below the base ignored", "{^G}0{Enter}{^G}401{Enter}cd{^S}y{^Q}", true, "disk fs0: LBA 2"},
};

class HexeditDisk : public ::testing::TestWithParam<DiskCase> {};

TEST_P(HexeditDisk, WritesBlocksOnlyAfterYes) {
    const DiskCase& c = GetParam();
    CommandShell sh;
    const sim::BlockId dev = sim::volume_block_device(sh.fw, sh.boot_volume());
    ASSERT_GE(dev, 0);
    std::vector<uint8_t>& data = sim::block_data(sh.fw, dev);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> before = data;
    const uint64_t writes = sim::block_writes(sh.fw, dev);
    type_keys(sh.fw, c.keys);
    RunResult r = sh.run("hexedit -d fs0: 2 2");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(sh.fw.pending_keys(), 0u);
    std::vector<uint8_t> expected = before;
    if (c.written) {
        // "ab" lands on the first byte of LBA 2; go to 401 lands one byte further.
        const size_t at = std::string(c.name).find("go to") == 0 ? 1024 + 1 : 1024;
        expected[at] = std::string(c.name).find("go to") == 0 ? 0xcd : 0xab;
    }
    EXPECT_EQ(data, expected);
    if (!c.written) EXPECT_EQ(sim::block_writes(sh.fw, dev), writes);
    EXPECT_NE(sh.screen().transcript().find(c.shown), std::string::npos) << c.shown;
}

INSTANTIATE_TEST_SUITE_P(Blocks, HexeditDisk, ::testing::ValuesIn(kDiskCases),
                         [](const auto& info) { return case_name(info.param.name); });

TEST(Hexedit, MemoryWrittenBackUnlessSecureBoot) {
    for (bool secure : {false, true}) {
        SCOPED_TRACE(secure);
        CommandShell sh;
        if (secure) {
            sh.store().put(u"SecureBoot", efi::kGlobalVariableGuid, 6, {1});
            reset_secure_boot_state();
        }
        sim::add_physical_blob(sh.fw, std::string(32, '\x10'), 0x5000);
        type_keys(sh.fw, "{Right}{Right}77{^S}{^Q}n");
        RunResult r = sh.run("hexedit -m 5000 20");
        EXPECT_EQ(r.code, 0);
        std::string expected(32, '\x10');
        if (!secure) expected[1] = '\x77';
        EXPECT_EQ(sim::physical_blob(sh.fw, 0x5000), expected);
        const std::string& t = sh.screen().transcript();
        EXPECT_EQ(t.find("Memory writes are disabled (Secure Boot)") != std::string::npos, secure);
        EXPECT_EQ(r.errors.find("hexedit: writing to hardware is disabled") != std::string::npos, secure)
            << r.errors;
        reset_secure_boot_state();
    }
}

}  // namespace
