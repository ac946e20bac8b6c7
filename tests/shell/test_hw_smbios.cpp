// smbiosview over SMBIOS data built in fake physical memory.
#include "config_tables_support.h"

using namespace tarn;

using namespace tarn_test;
using namespace hw_test;

namespace {

// A structure: formatted area (type, length and handle filled in) and its strings.
std::string structure(uint8_t type, uint16_t handle, std::string formatted, const std::vector<std::string>& strings) {
    formatted[0] = static_cast<char>(type);
    formatted[1] = static_cast<char>(formatted.size());
    put(formatted, 2, handle, 2);
    std::string s = formatted;
    for (auto& t : strings) s += t + '\0';
    if (strings.empty()) s += '\0';
    return s + '\0';
}

std::string area(size_t n) { return std::string(n, '\0'); }

std::string sample_table() {
    std::string bios = area(0x18);
    bios[4] = 1; bios[5] = 2; bios[8] = 3; bios[9] = 0x0f; bios[0x14] = 2; bios[0x15] = 7;
    std::string sys = area(0x1b);
    sys[4] = 1; sys[5] = 2; sys[6] = 0; sys[7] = 3; sys[0x19] = 9; sys[0x1a] = 2;
    for (int i = 0; i < 16; i++) sys[8 + i] = static_cast<char>(0x10 + i);
    std::string board = area(9);
    board[4] = 1; board[6] = 2; board[7] = 3; board[8] = 4;
    std::string cpu = area(0x26);
    cpu[4] = 1; cpu[7] = 2; cpu[0x10] = 3;
    put(cpu, 0x12, 100, 2); put(cpu, 0x14, 3000, 2); put(cpu, 0x16, 2400, 2);
    cpu[0x23] = 4; cpu[0x24] = 4; cpu[0x25] = 8;
    std::string arr = area(0x0f);
    put(arr, 7, 0x800000, 4); put(arr, 0x0d, 2, 2);
    std::string dimm = area(0x28);
    put(dimm, 0x0c, 0x7fff, 2); put(dimm, 0x1c, 65536, 4);
    dimm[0x10] = 1; dimm[0x11] = 2; put(dimm, 0x15, 3200, 2); dimm[0x17] = 3; dimm[0x18] = 0; dimm[0x1a] = 4;
    std::string small = area(0x15);
    put(small, 0x0c, 0x8400, 2);
    small[0x10] = 1;  // a string reference with no strings
    std::string empty = area(0x15);
    std::string mapped = area(0x0f);
    put(mapped, 4, 0, 4); put(mapped, 8, 0x7ffff, 4);
    return structure(0, 0, bios, {"TARN BIOS", "1.2.3", "01/02/2026"}) +
           structure(1, 0x100, sys, {"Tarnwick", "Model T", "SN-42"}) +
           structure(2, 0x200, board, {"Boards Inc", "rev B", "BSN", "tag"}) +
           structure(4, 0x400, cpu, {"CPU0", "Chips", "Fast chip"}) +
           structure(16, 0x1000, arr, {}) +
           structure(17, 0x1100, dimm, {"DIMM 0", "Bank 0", "Memories", "PN-1"}) +
           structure(17, 0x1101, small, {}) + structure(17, 0x1102, empty, {}) +
           structure(19, 0x1300, mapped, {}) + structure(200, 0xc800, area(5), {"oem"}) +
           structure(127, 0xfeff, area(4), {});
}

void install_32(CommandShell& s, const std::string& table, uint16_t count, uint16_t length_field = 0) {
    uint64_t t = sim::add_physical_blob(s.fw, table, next_address());
    std::string e(31, '\0');
    std::memcpy(&e[0], "_SM_", 4);
    e[6] = 2; e[7] = 8;
    put(e, 22, length_field ? length_field : table.size(), 2);
    put(e, 24, t, 4);
    put(e, 28, count, 2);
    uint64_t at = sim::add_physical_blob(s.fw, e, next_address());
    s.fw.install_configuration_table(kSmbiosTableGuid, reinterpret_cast<void*>(at));
}

void install_64(CommandShell& s, const std::string& table, uint32_t max_size = 0) {
    uint64_t t = sim::add_physical_blob(s.fw, table, next_address());
    std::string e(24, '\0');
    std::memcpy(&e[0], "_SM3_", 5);
    e[7] = 3; e[8] = 4;
    put(e, 12, max_size ? max_size : table.size(), 4);
    put(e, 16, t, 8);
    uint64_t at = sim::add_physical_blob(s.fw, e, next_address());
    s.fw.install_configuration_table(kSmbios3TableGuid, reinterpret_cast<void*>(at));
}

}  // namespace

TEST(HwSmbios, DecodesTheKnownTypes) {
    HwShell s;
    install_32(s, sample_table(), 11);
    auto r = s.run("smbiosview");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out.find("SMBIOS 2.8 (32-bit entry point at 0x"), 0u) << r.out;
    const char* expected[] = {
        "), 11 structures\nType 0 (BIOS Information)  Handle 0x0000  Length 24\n"
        "  Vendor:          TARN BIOS\n  Version:         1.2.3\n  Release date:    01/02/2026\n"
        "  ROM size:        1024 KiB\n  BIOS release:    2.7\n",
        "Type 1 (System Information)  Handle 0x0100  Length 27\n  Manufacturer:    Tarnwick\n"
        "  Product:         Model T\n  Version:         \n  Serial:          SN-42\n"
        "  UUID:            13121110-1514-1716-1819-1a1b1c1d1e1f\n  SKU:             <bad string>\n"
        "  Family:          Model T\n",
        "Type 2 (Baseboard Information)  Handle 0x0200  Length 9\n  Manufacturer:    Boards Inc\n"
        "  Version:         rev B\n  Serial:          BSN\n  Asset tag:       tag\n",
        "  Socket:          CPU0\n  Manufacturer:    Chips\n  Version:         Fast chip\n"
        "  Current speed:   2400 MHz\n  Max speed:       3000 MHz\n  External clock:  100 MHz\n"
        "  Cores:           4\n  Enabled cores:   4\n  Threads:         8\n",
        "Type 16 (Physical Memory Array)  Handle 0x1000  Length 15\n  Maximum capacity: 8192 MiB\n"
        "  Devices:         2\n",
        "Type 17 (Memory Device)  Handle 0x1100  Length 40\n  Locator:         DIMM 0\n  Bank:            Bank 0\n"
        "  Size:            65536 MiB\n  Speed:           3200 MT/s\n  Manufacturer:    Memories\n"
        "  Serial:          \n  Part number:     PN-1\n",
        "Handle 0x1101  Length 21\n  Locator:         <bad string>\n  Bank:            \n"
        "  Size:            1 MiB\n",
        "Handle 0x1102  Length 21\n  Locator:         \n  Bank:            \n  Size:            0 MiB (empty)\n",
        "Type 19 (Memory Array Mapped Address)  Handle 0x1300  Length 15\n  Start:           0x0\n"
        "  End:             0x1FFFFC00\n",
        "Type 200 (OEM specific)  Handle 0xC800  Length 5\nType 127 (End of Table)  Handle 0xFEFF  Length 4\n",
    };
    for (const char* e : expected) EXPECT_NE(r.out.find(e), std::string::npos) << e << "\n---\n" << r.out;
}

TEST(HwSmbios, FiltersStatisticsAndRecords) {
    HwShell s;
    install_64(s, sample_table());
    auto r = s.run("smbiosview -t 17");
    EXPECT_EQ(r.out.find("SMBIOS 3.4 (64-bit entry point at 0x"), 0u) << r.out;
    int lines = 0;
    for (size_t at = r.out.find("Type "); at != std::string::npos; at = r.out.find("Type ", at + 1)) lines++;
    EXPECT_EQ(lines, 3) << r.out;
    r = s.run("smbiosview -h 1101");
    EXPECT_NE(r.out.find("Handle 0x1101"), std::string::npos);
    EXPECT_EQ(r.out.find("Handle 0x1100"), std::string::npos);
    EXPECT_NE(s.run("smbiosview -s").out.find("Type  Count  Name\n   0      1  BIOS Information\n"
                                              "   1      1  System Information\n   2      1  Baseboard Information\n"
                                              "   4      1  Processor Information\n  16      1  Physical Memory Array\n"
                                              "  17      3  Memory Device\n  19      1  Memory Array Mapped Address\n"
                                              " 127      1  End of Table\n 200      1  OEM specific\n"), std::string::npos);
    EXPECT_EQ(s.run("smbiosview -t 1 -data").out,
              "type=1\ntypename=System Information\nhandle=0100\nlength=27\nmanufacturer=Tarnwick\n"
              "product=Model T\nversion=\nserial=SN-42\nuuid=13121110-1514-1716-1819-1a1b1c1d1e1f\n"
              "sku=<bad string>\nfamily=Model T\n");
    EXPECT_NE(s.run("smbiosview -s -data").out.find("type=17\ncount=3\ntypename=Memory Device\n"), std::string::npos);
    for (const char* bad : {"smbiosview -t x", "smbiosview -t 256", "smbiosview -h 10000", "smbiosview extra"})
        EXPECT_EQ(s.run(bad).code, 2) << bad;
}

TEST(HwSmbios, HostileStructures) {
    struct Case { std::string table; int shown; } cases[] = {
        // A formatted length of 3 ends the walk.
        {structure(1, 1, area(8), {"a"}) + std::string("\x02\x03\x00\x00\x00\x00", 6), 1},
        // A formatted length past the end of the table.
        {structure(1, 1, area(8), {"a"}) + std::string("\x02\x40\x00\x00", 4), 1},
        // A runaway string set: no double NUL before the end.
        {structure(1, 1, area(8), {"a"}) + std::string("\x02\x05\x00\x00\x01" "abc\0def", 12), 1},
        // Fewer than 4 bytes left.
        {structure(1, 1, area(8), {"a"}) + "\x02\x04", 1},
    };
    for (auto& c : cases) {
        HwShell s;
        install_64(s, c.table);
        auto r = s.run("smbiosview");
        EXPECT_EQ(r.code, 0);
        int types = 0;
        for (size_t at = r.out.find("\nType "); at != std::string::npos; at = r.out.find("\nType ", at + 1)) types++;
        EXPECT_EQ(types, c.shown) << r.out;
    }
    // A length that claims more memory than there is.
    HwShell s;
    install_64(s, sample_table(), 0x100000);
    EXPECT_EQ(s.run("smbiosview").errors.find("smbiosview: cannot read the SMBIOS table at "), 0u);
}

TEST(HwSmbios, Sentinels) {
    HwShell s;
    std::string bios = area(0x1a);
    bios[9] = static_cast<char>(0xff);
    put(bios, 0x18, 0x4010, 2);  // 16 GiB
    std::string bios_short = area(0x12);
    bios_short[9] = static_cast<char>(0xff);
    std::string arr = area(0x17);
    put(arr, 7, 0x80000000u, 4);
    put(arr, 0x0f, 1ull << 40, 8);
    std::string arr_short = area(0x0f);
    put(arr_short, 7, 0x80000000u, 4);
    std::string dimm = area(0x15);
    put(dimm, 0x0c, 0xffff, 2);
    std::string dimm_ext_short = area(0x1c);
    put(dimm_ext_short, 0x0c, 0x7fff, 2);
    std::string map = area(0x1f);
    put(map, 4, 0xffffffffu, 4); put(map, 8, 0xffffffffu, 4);
    put(map, 0x0f, 0x100000000ull, 8); put(map, 0x17, 0x1ffffffffull, 8);
    std::string map_short = area(0x0f);
    put(map_short, 4, 0xffffffffu, 4); put(map_short, 8, 0xffffffffu, 4);
    install_32(s, structure(0, 1, bios, {}) + structure(0, 2, bios_short, {}) + structure(16, 3, arr, {}) +
                      structure(16, 4, arr_short, {}) + structure(17, 5, dimm, {}) +
                      structure(17, 6, dimm_ext_short, {}) + structure(19, 7, map, {}) +
                      structure(19, 8, map_short, {}),
               8);
    auto out = s.run("smbiosview -data").out;
    for (const char* want : {"handle=0001\nlength=26\nvendor=\nversion=\nrelease_date=\nrom_size=16 GiB\n",
                             "handle=0002\nlength=18\nvendor=\nversion=\nrelease_date=\nrom_size=unknown\n",
                             "maximum_capacity=1048576 MiB\n", "handle=0004\nlength=15\nmaximum_capacity=unknown\n",
                             "handle=0005\nlength=21\nlocator=\nbank=\nsize=unknown\n",
                             "handle=0006\nlength=28\nlocator=\nbank=\nsize=unknown\n",
                             "start=0x100000000\nend=0x1FFFFFFFF\n", "handle=0008\nlength=15\nstart=unknown\nend=unknown\n"})
        EXPECT_NE(out.find(want), std::string::npos) << want << "\n---\n" << out;
}

TEST(HwSmbios, EntryPoints) {
    HwShell s;
    EXPECT_EQ(s.run("smbiosview").errors, "smbiosview: no SMBIOS table found\n");
    // Both published: the 64-bit one wins.
    install_32(s, sample_table(), 11);
    install_64(s, structure(127, 1, area(4), {}));
    auto r = s.run("smbiosview");
    EXPECT_EQ(r.out.find("SMBIOS 3.4 (64-bit"), 0u) << r.out;
    EXPECT_EQ(r.out.find("BIOS Information"), std::string::npos);
}
