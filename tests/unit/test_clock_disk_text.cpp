// The text forms of the clock commands and the block decoders of dblk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/files/clock_text.h"
#include "commands/files/dblk_decode.h"
#include "sim.h"

using namespace tarn;

namespace {

TEST(ClockText, Dates) {
    const struct {
        const char* text;
        ClockParse result;
        int64_t year, month, day;
    } cases[] = {
        {"2026-09-19", ClockParse::kOk, 2026, 9, 19},     {"09/19/26", ClockParse::kOk, 2026, 9, 19},
        {"9/19/2026", ClockParse::kOk, 2026, 9, 19},      {"2026-02-31", ClockParse::kOk, 2026, 2, 31},
        {"0x7EA-1-2", ClockParse::kOk, 2026, 1, 2},       {"1899-01-01", ClockParse::kOutOfRange, 0, 0, 0},
        {"2026-13-01", ClockParse::kOutOfRange, 0, 0, 0}, {"2026-01-32", ClockParse::kOutOfRange, 0, 0, 0},
        {"10000-1-1", ClockParse::kOutOfRange, 0, 0, 0},  {"2026-01", ClockParse::kSyntax, 0, 0, 0},
        {"2026-1-1-1", ClockParse::kSyntax, 0, 0, 0},     {"2026--1", ClockParse::kSyntax, 0, 0, 0},
        {"a/b/c", ClockParse::kSyntax, 0, 0, 0},          {"", ClockParse::kSyntax, 0, 0, 0},
    };
    for (const auto& c : cases) {
        ClockDate d{};
        ASSERT_EQ(parse_clock_date(c.text, &d), c.result) << c.text;
        if (c.result == ClockParse::kOk) EXPECT_EQ((std::vector<int64_t>{d.year, d.month, d.day}),
                                                   (std::vector<int64_t>{c.year, c.month, c.day})) << c.text;
    }
}

TEST(ClockText, TimesAndZones) {
    const struct {
        const char* text;
        bool ok;
        int64_t h, m, s;
    } times[] = {{"7:5", true, 7, 5, 0}, {"23:59:59", true, 23, 59, 59}, {"0:0:0", true, 0, 0, 0},
                 {"24:00", false, 0, 0, 0}, {"10", false, 0, 0, 0}, {"1:60", false, 0, 0, 0},
                 {"1:2:3:4", false, 0, 0, 0}, {"1::2", false, 0, 0, 0}, {"-1:00", false, 0, 0, 0}};
    for (const auto& c : times) {
        ClockTimeOfDay t{};
        ASSERT_EQ(parse_clock_time(c.text, &t), c.ok) << c.text;
        if (c.ok) EXPECT_EQ((std::vector<int64_t>{t.hour, t.minute, t.second}), (std::vector<int64_t>{c.h, c.m, c.s}));
    }
    const struct {
        const char* text;
        bool ok;
        int minutes;
        const char* shown;
    } zones[] = {{"+01:00", true, 60, "UTC+01:00"}, {"-03:30", true, -210, "UTC-03:30"},
                 {"14", true, 840, "UTC+14:00"},    {"5:45", true, 345, "UTC+05:45"},
                 {"-0", true, 0, "UTC+00:00"},      {"14:30", false, 0, ""},
                 {"15", false, 0, ""},              {"1:60", false, 0, ""},
                 {"1:", false, 0, ""},              {"+", false, 0, ""},
                 {"1:00x", false, 0, ""},           {"0x1", false, 0, ""}};
    for (const auto& c : zones) {
        int16_t m = 0;
        ASSERT_EQ(parse_zone_offset(c.text, &m), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(m, c.minutes) << c.text;
        char shown[16];
        format_zone_offset(m, shown);
        EXPECT_STREQ(shown, c.shown);
    }
    EXPECT_EQ(time_zone_count(), 33u);
}

std::string decoded(uint64_t lba, const std::vector<uint8_t>& block) {
    sim::SimFirmware fw;
    StringBuffer out;
    describe_block(lba, block.data(), block.size(), out);
    std::string s(out.c_str(), out.length);
    release(out);
    return s;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(DblkDecode, LayoutsAndTheirGuards) {
    std::vector<uint8_t> mbr(512, 0);
    mbr[510] = 0x55, mbr[511] = 0xAA;
    mbr[0x1BE + 16 * 0 + 4] = 0xEE, put32(mbr, 0x1BE + 8, 1), put32(mbr, 0x1BE + 12, 0xFFFFFFFF);
    mbr[0x1BE + 16 * 2] = 0x80, mbr[0x1BE + 16 * 2 + 4] = 0xEF, put32(mbr, 0x1BE + 32 + 8, 2048);
    put32(mbr, 0x1BE + 32 + 12, 4096);
    EXPECT_EQ(decoded(0, mbr), "  MBR partition table:\n"
                               "    1: type EE (GPT protective) start LBA 1, 4294967295 sectors\n"
                               "    3: type EF (EFI system) start LBA 2048, 4096 sectors, active\n");
    EXPECT_EQ(decoded(5, mbr), "");                        // an MBR only at LBA 0
    EXPECT_EQ(decoded(0, std::vector<uint8_t>(mbr.begin(), mbr.begin() + 511)), "");  // short block

    std::vector<uint8_t> fat(512, 0);
    fat[0] = 0xEB, fat[510] = 0x55, fat[511] = 0xAA;
    memcpy(&fat[3], "mkfs.fat", 8), fat[0x0B] = 0x00, fat[0x0C] = 0x02, fat[0x0D] = 8;
    memcpy(&fat[0x52], "FAT32   ", 8), memcpy(&fat[0x47], "TARNDISK   ", 11);
    EXPECT_EQ(decoded(0, fat), "  FAT boot sector: OEM \"mkfs.fat\", 512 bytes/sector, 8 sectors/cluster, FAT32, "
                               "label \"TARNDISK   \"\n");
    memset(&fat[0x52], 0, 8), memcpy(&fat[0x36], "FAT16   ", 8), memcpy(&fat[0x2B], "SMALL      ", 11);
    EXPECT_NE(decoded(7, fat).find("FAT12/16, label \"SMALL      \""), std::string::npos);

    std::vector<uint8_t> gpt(512, 0);
    memcpy(&gpt[0], "EFI PART", 8), put32(gpt, 8, 0x10000), put32(gpt, 0x28, 34), put32(gpt, 0x30, 0x1FFDE);
    put32(gpt, 0x48, 2), put32(gpt, 0x50, 128), put32(gpt, 0x54, 128);
    EXPECT_EQ(decoded(1, gpt), "  GPT header: revision 00010000, disk LBAs 34-131038, 128 partition entries of "
                               "128 bytes at LBA 2\n");
    EXPECT_EQ(decoded(2, gpt), "");
}

TEST(DblkDecode, DumpLine) {
    sim::SimFirmware fw;
    uint8_t bytes[16];
    for (int i = 0; i < 16; i++) bytes[i] = static_cast<uint8_t>(0x3A + i * 5);
    StringBuffer line;
    format_dump_line(bytes, 16, 0x1F0, line);
    EXPECT_EQ(std::string(line.c_str(), line.length),
              "  000001f0: 3A 3F 44 49 4E 53 58 5D-62 67 6C 71 76 7B 80 85  *:?DINSX]bglqv{..*\n");
    release(line);
}

}  // namespace
