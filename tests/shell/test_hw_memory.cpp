// The physical-memory reader, dmem and mm over blobs of fake memory and the port log.
#include "hw/hw_common.h"
#include "hw/phys_memory.h"
#include "phys_memory.h"
#include "platform/secure_boot.h"
#include "command_test.h"
#include "uefi/guids.h"

using namespace tarn;

using namespace tarn_test;

namespace {

std::string bytes_from(int n, int first = 0) {
    std::string s;
    for (int i = 0; i < n; i++) s += static_cast<char>(first + i);
    return s;
}

void enable_secure_boot(CommandShell& s) {
    s.store().put(u"SecureBoot", efi::kGlobalVariableGuid, 6, {1});
    reset_secure_boot_state();
}

struct ErrorCase {
    const char* line;
    int code;
    const char* error;  // the error text, or "" for a usage line
};

void expect_errors(CommandShell& s, const ErrorCase* cases, size_t n) {
    for (size_t i = 0; i < n; i++) {
        SCOPED_TRACE(cases[i].line);
        auto r = s.run(cases[i].line);
        EXPECT_EQ(r.code, cases[i].code);
        if (*cases[i].error) EXPECT_EQ(r.errors, cases[i].error);
        else EXPECT_NE(r.errors.find("usage: "), std::string::npos) << r.errors;
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace

TEST(HwPhysicalMemory, ReadsStayInsideBlobs) {
    sim::SimFirmware fw;
    sim::add_physical_blob(fw, "abcdefgh", 0x1000);
    char out[16] = {};
    EXPECT_TRUE(read_physical(0x1000, out, 8));
    EXPECT_EQ(std::string(out, 8), "abcdefgh");
    EXPECT_TRUE(read_physical(0x1007, out, 1));
    EXPECT_EQ(out[0], 'h');
    EXPECT_TRUE(read_physical(0x2000, out, 0));  // nothing asked, nothing read
    EXPECT_FALSE(read_physical(0x1001, out, 8));  // one byte past the end
    EXPECT_FALSE(read_physical(0xfff, out, 2));   // one byte before the start
    EXPECT_FALSE(read_physical(0x1008, out, 1));
    EXPECT_FALSE(read_physical(~0ull, out, 2));   // wraps
    uint64_t v = 0;
    EXPECT_TRUE(read_physical_register(0x1004, 4, &v));
    EXPECT_EQ(v, 0x68676665u);
    EXPECT_FALSE(read_physical_register(0x1002, 4, &v));  // unaligned
    EXPECT_FALSE(read_physical_register(0x1000, 3, &v));  // bad width
    EXPECT_FALSE(read_physical_register(0x1008, 8, &v));
    EXPECT_TRUE(write_physical_register(0x1002, 2, 0x5958));
    EXPECT_EQ(sim::physical_blob(fw, 0x1000), "abXYefgh");
    EXPECT_FALSE(write_physical_register(0x1008, 1, 0));
}

TEST(HwPhysicalMemory, HexArguments) {
    struct Case { const char* text; bool ok; uint64_t value; } cases[] = {
        {"0", true, 0}, {"0x1F", true, 0x1f}, {"ffffffffffffffff", true, ~0ull},
        {"0X10", true, 0x10}, {"10000000000000000", false, 0}, {"", false, 0}, {"0x", false, 0},
        {"12g", false, 0}, {"-1", false, 0}, {" 1", false, 0},
    };
    for (auto& c : cases) {
        uint64_t v = 12345;
        EXPECT_EQ(parse_hex(c.text, &v), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(v, c.value) << c.text;
    }
}

TEST(HwDmem, DumpLines) {
    CommandShell s;
    sim::add_physical_blob(s.fw, "0123456789abcdef" "ABCDEFGHIJKLMNOP" "\x01\x7f\x80 ~", 0x10000);
    auto r = s.run("dmem 10000 23");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.out,
              "Memory address 0000000000010000 23 bytes\n"
              "  0000000000010000: 30 31 32 33 34 35 36 37-38 39 61 62 63 64 65 66  *0123456789abcdef*\n"
              "  0000000000010010: 41 42 43 44 45 46 47 48-49 4A 4B 4C 4D 4E 4F 50  *ABCDEFGHIJKLMNOP*\n"
              "  0000000000010020: 01 7F 80                                         *...*\n");
    EXPECT_EQ(s.run("dmem 0x10011 1").out,
              "Memory address 0000000000010011 1 bytes\n"
              "  0000000000010011: 42                                               *B*\n");
}

TEST(HwDmem, SizesAndMissingMemory) {
    CommandShell s;
    sim::add_physical_blob(s.fw, std::string(0x100000, 'x'), 0x200000);
    s.run("set -v pager off");
    auto r = s.run("dmem 200000 100000");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1 + 0x10000);
    // The default size is 0x200 bytes: 32 lines.
    r = s.run("dmem 200000");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1 + 32);
    const ErrorCase cases[] = {
        {"dmem 200000 0", 1, "dmem: size must be between 1 and 0x100000\n"},
        {"dmem 200000 100001", 1, "dmem: size must be between 1 and 0x100000\n"},
        {"dmem 2fff00 101", 1, "dmem: cannot read memory at 2fff00\n"},
        {"dmem ffffffffffffff00 200", 1, "dmem: cannot read memory at ffffffffffffff00\n"},
        {"dmem 200000 10 -MMIO", 1, "dmem: MMIO read failed\n"},
        {"dmem 20000g", 2, ""},
        {"dmem 200000 10 5", 2, ""},
        {"dmem -x", 2, ""},
    };
    expect_errors(s, cases, std::size(cases));
}

TEST(HwDmem, SystemTable) {
    CommandShell s;
    // A table the name registry knows is shown by name, any other by its GUID text.
    static uint8_t acpi[4], other[4];
    const efi::Guid acpi20{0x8868e871, 0xe4f1, 0x11d3, {0xbc, 0x22, 0x00, 0x80, 0xc7, 0x3c, 0x88, 0x81}};
    const efi::Guid unnamed{0x01234567, 0x89ab, 0xcdef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
    ASSERT_EQ(s.fw.install_configuration_table(acpi20, acpi), efi::kSuccess);
    ASSERT_EQ(s.fw.install_configuration_table(unnamed, other), efi::kSuccess);
    auto r = s.run("dmem");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("EFI system table at 0x", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n  FirmwareVendor 0x"), std::string::npos) << r.out;
    const struct { const char* name; void* table; } rows[] = {
        {"AcpiTable20", acpi}, {"01234567-89ab-cdef-0123-456789abcdef", other}};
    for (const auto& row : rows) {
        char line[80];
        std::snprintf(line, sizeof line, "  %-36s %p\n", row.name, row.table);
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    }
}

TEST(HwMm, MemoryReadsAndWrites) {
    CommandShell s;
    sim::add_physical_blob(s.fw, bytes_from(16, 0x10), 0x3000);
    struct Case { const char* line; const char* out; } reads[] = {
        {"mm 3000 -n", "MEM  0x0000000000003000 : 0x10\n"},
        {"mm 3004 -w 4 -n", "MEM  0x0000000000003004 : 0x17161514\n"},
        {"mm 3008 -w 8 -MMIO -n", "MMIO 0x0000000000003008 : 0x1F1E1D1C1B1A1918\n"},
        {"mm 3002 -w 2 -mem -n", "MEM  0x0000000000003002 : 0x1312\n"},
    };
    for (auto& c : reads) EXPECT_EQ(s.run(c.line).out, c.out) << c.line;
    EXPECT_EQ(s.run("mm 3004 abcd -w 2").code, 0);
    EXPECT_EQ(s.run("mm 3008 1122334455667788 -w 8 -MMIO").code, 0);
    EXPECT_EQ(sim::physical_blob(s.fw, 0x3000),
              "\x10\x11\x12\x13\xcd\xab\x16\x17\x88\x77\x66\x55\x44\x33\x22\x11");
    // A value wider than the access is cut to the width.
    EXPECT_EQ(s.run("mm 3000 1ff").code, 0);
    EXPECT_EQ(sim::physical_blob(s.fw, 0x3000)[0], '\xff');
}

TEST(HwMm, BadInput) {
    CommandShell s;
    sim::add_physical_blob(s.fw, bytes_from(16), 0x3000);
    const ErrorCase cases[] = {
        {"mm 3000 -w 3 -n", 1, "mm: width must be 1, 2, 4 or 8\n"},
        {"mm 3000 -w 16 -n", 1, "mm: width must be 1, 2, 4 or 8\n"},
        {"mm 3000 -w x -n", 1, "mm: width must be 1, 2, 4 or 8\n"},
        {"mm 1001 -w 2 -n", 1, "mm: the address must be aligned to the width\n"},
        {"mm 3002 -w 4 -MMIO -n", 1, "mm: the address must be aligned to the width\n"},
        {"mm 4000 -n", 1, "mm: read failed at 4000\n"},
        {"mm 4000 12", 1, "mm: write failed\n"},
        {"mm 0x1 -PCI -n", 1, "mm: read failed at 1\n"},
        {"mm 3000 -IO -w 8 -n", 1, "mm: read failed at 3000\n"},
        {"mm 10000 -IO -n", 1, "mm: read failed at 10000\n"},
        {"mm", 2, ""},
        {"mm 3000 1 2", 2, ""},
        {"mm 30z0 -n", 2, ""},
        {"mm 3000 zz", 2, ""},
        {"mm 3000 -IO -MEM -n", 2, ""},
        {"mm 3000 -q", 2, ""},
    };
    expect_errors(s, cases, std::size(cases));
}

TEST(HwMm, PortsThroughTheProcessor) {
    CommandShell s;
    s.fw.set_port_input(0x1001, 0xa5);
    s.fw.set_port_input(0x70, 0x12345678);
    s.fw.clear_port_log();
    // An unaligned port is fine for -IO.
    EXPECT_EQ(s.run("mm 1001 -w 2 -IO -n").out, "IO   0x0000000000001001 : 0x00A5\n");
    EXPECT_EQ(s.run("mm 70 -w 4 -io -n").out, "IO   0x0000000000000070 : 0x12345678\n");
    EXPECT_EQ(s.run("mm 0xf4 0x10 -IO -w 1").code, 0);
    EXPECT_EQ(s.run("mm 80 1234 -IO -w 2").code, 0);
    const auto& log = s.fw.port_log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_FALSE(log[0].write);
    EXPECT_EQ(log[0].width, 2);
    EXPECT_EQ(log[1].width, 4);
    EXPECT_TRUE(log[2].write);
    EXPECT_EQ(log[2].port, 0xf4);
    EXPECT_EQ(log[2].value, 0x10u);
    EXPECT_EQ(log[3].port, 0x80);
    EXPECT_EQ(log[3].width, 2);
    EXPECT_EQ(log[3].value, 0x1234u);
    EXPECT_EQ(s.fw.debug_exit_writes(), std::vector<uint32_t>{0x10});
}

TEST(HwMm, SecureBootRefusesEveryWrite) {
    CommandShell s;
    sim::add_physical_blob(s.fw, bytes_from(8), 0x3000);
    enable_secure_boot(s);
    s.fw.clear_port_log();
    const char* kRefused = "mm: writing to hardware is disabled while Secure Boot is active\n";
    for (const char* line : {"mm 3000 ff", "mm f4 10 -IO", "mm 3000 ff -MMIO -w 4"}) {
        auto r = s.run(line);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_EQ(r.errors, kRefused) << line;
    }
    // Interactive: the typed value is refused too and ends the command.
    s.fw.push_text("ab\r");
    auto r = s.run("mm 3000");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, kRefused);
    EXPECT_EQ(sim::physical_blob(s.fw, 0x3000), bytes_from(8));
    EXPECT_TRUE(s.fw.debug_exit_writes().empty());
    for (auto& a : s.fw.port_log()) EXPECT_FALSE(a.write);
    // Reads still work.
    EXPECT_EQ(s.run("mm 3000 -n").code, 0);
    reset_secure_boot_state();
}

TEST(HwMm, Interactive) {
    CommandShell s;
    sim::add_physical_blob(s.fw, bytes_from(8, 0x40), 0x3000);
    // Enter moves on, a value is written and moves on, junk asks again, q quits.
    s.fw.push_text("\r7f\rxyz\rQuit\r");
    auto r = s.run("mm 3000 -w 2");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.errors, "mm: enter a hexadecimal value, Enter for the next address, q to quit\n");
    EXPECT_NE(r.out.find("MEM  0x0000000000003000 : 0x4140"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("MEM  0x0000000000003002 : 0x4342"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("MEM  0x0000000000003004 : 0x4544"), std::string::npos) << r.out;
    EXPECT_EQ(sim::physical_blob(s.fw, 0x3000), std::string("\x40\x41\x7f\x00\x44\x45\x46\x47", 8));
    // A read that fails ends the walk with its message.
    s.fw.push_text("\r\r\r\r\r");
    r = s.run("mm 3000 -w 4");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "mm: read failed at 3008\n");
}
