// date, time, timezone, getmtc, stall and dblk over the simulated clock and disks.
#include "command_test.h"

namespace {

using tarn_test::CommandShell;
using tarn_test::RunResult;
namespace efi = tarn::efi;

efi::Time at(uint16_t y, uint8_t mo, uint8_t d, uint8_t h, uint8_t mi, uint8_t s, int16_t zone = 60) {
    efi::Time t{};
    t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
    t.nanosecond = 12345, t.time_zone = zone, t.daylight = 1;
    return t;
}

void expect_run(CommandShell& sh, const std::string& line, const std::string& out) {
    const RunResult r = sh.run(line);
    EXPECT_EQ(r.code, 0) << line;
    EXPECT_EQ(r.out, out) << line;
    EXPECT_EQ(r.errors, "") << line;
}

TEST(ClockCommands, ShowAndSetKeepTheOtherHalf) {
    CommandShell sh;
    sh.fw.set_wall_time(at(2026, 12, 9, 8, 30, 15));
    expect_run(sh, "date", "2026-12-09\n");
    expect_run(sh, "time", "08:30:15\n");
    expect_run(sh, "date 09/19/26", "");
    expect_run(sh, "time 7:5", "");
    const efi::Time t = sh.fw.wall_time();
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second, t.time_zone, t.daylight}),
              (std::vector<int>{2026, 9, 19, 7, 5, 0, 60, 1}));
    EXPECT_EQ(t.nanosecond, 0u);
    expect_run(sh, "date -data", "date=2026-09-19\nyear=2026\nmonth=9\nday=19\n");
    expect_run(sh, "time -data", "time=07:05:00\nhour=7\nminute=5\nsecond=0\n");
    // The firmware judges the days of the month; the shell only the ranges.
    sh.expect_failure("date 2026-02-31", 1, "date: cannot set the date: invalid parameter\n");
    sh.expect_failure("date 1899-01-01", 1, "date: invalid date\n");
    sh.expect_failure("time 24:00", 2, "usage: time [HH:MM[:SS]]\n");
    sh.expect_failure("date 1 2", 2, "usage: date [YYYY-MM-DD | MM/DD/YYYY | MM/DD/YY]\n");
    sh.fw.set_get_time_status(efi::kDeviceError);
    sh.expect_failure("date", 1, "date: cannot read the real time clock\n");
    sh.expect_failure("timezone", 1, "timezone: cannot read the clock: device error\n");
}

TEST(ClockCommands, TimeZones) {
    CommandShell sh(tarn_test::file_commands());
    sh.fw.set_wall_time(at(2026, 1, 1, 0, 0, 0, 0x7FF));
    expect_run(sh, "timezone", "Time zone not specified: the clock keeps local time\n");
    expect_run(sh, "timezone -s -03:30", "UTC-03:30  (Newfoundland)\n");
    EXPECT_EQ(sh.fw.wall_time().time_zone, -210);
    sh.expect_failure("timezone -s 14:30", 1, "timezone: use -s [+|-]hh:mm, for example -s +01:00\n");
    expect_run(sh, "timezone -f", "UTC-03:30  (Newfoundland)\nTimeZone field: -210, daylight: adjust yes, "
                                     "in daylight no\n");
    const RunResult list = sh.run("timezone -l -s +01:00");
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.out.substr(0, 28), "UTC-12:00  Baker Island\nUTC-");
    EXPECT_NE(list.out.find("UTC+05:45  Nepal\n"), std::string::npos);
    EXPECT_EQ(sh.fw.wall_time().time_zone, -210);  // -l only lists
    EXPECT_EQ(sh.run("timezone x").code, 2);
    EXPECT_EQ(sh.run("stall 1000").code, 0);
    EXPECT_EQ(sh.run("stall -1").code, 2);
    const RunResult a = sh.run("getmtc"), b = sh.run("getmtc");
    EXPECT_NE(a.out, b.out);
}

TEST(DblkCommand, DumpsClampsAndRefuses) {
    CommandShell sh(tarn_test::file_commands());
    sim::BlockLayout layout;
    layout.blocks = 4;
    const sim::BlockId disk = sim::add_block_device(sh.fw, layout);
    auto& bytes = sim::block_data(sh.fw, disk);
    bytes[3 * 512] = 'Z';
    bytes[510] = 0x55, bytes[511] = 0xAA, bytes[0x1BE + 4] = 0xEE;
    sh.run("map -r");
    const RunResult one = sh.run("dblk blk1");
    ASSERT_EQ(one.code, 0) << one.errors;
    EXPECT_EQ(one.out.rfind("LBA 0000000000000000  Size 00000200 bytes  BlkIo ", 0), 0u) << one.out;
    EXPECT_NE(one.out.find("  000001f0: 00 00 00 00 00 00 00 00-00 00 00 00 00 00 55 AA  *..............U.*\n"),
              std::string::npos);
    EXPECT_NE(one.out.find("    1: type EE (GPT protective) start LBA 0, 0 sectors\n"), std::string::npos);
    const RunResult clamped = sh.run("dblk blk1 2 10");  // 16 asked, two remain
    EXPECT_NE(clamped.out.find("LBA 0000000000000003"), std::string::npos);
    EXPECT_EQ(clamped.out.find("LBA 0000000000000004"), std::string::npos);
    EXPECT_NE(clamped.out.find("  00000000: 5A 00"), std::string::npos);
    sh.expect_failure("dblk blk1 0 11", 1, "dblk: block count must be 1 to 10 (hexadecimal)\n");
    sh.expect_failure("dblk blk1 0 0", 1, "dblk: block count must be 1 to 10 (hexadecimal)\n");
    sh.expect_failure("dblk blk1 FFFFFFFF", 1, "dblk: LBA beyond the end of the device (last LBA 3)\n");
    sh.expect_failure("dblk blk1 1g", 1, "dblk: LBA must be hexadecimal\n");
    sh.expect_failure("dblk blk9", 1, "dblk: blk9: not a block device (see map)\n");
    EXPECT_EQ(sh.run("dblk").code, 2);
    EXPECT_EQ(sh.run("dblk blk1 0 1 2").code, 2);
    EXPECT_EQ(sim::block_writes(sh.fw, disk), 0u);
}

}  // namespace
