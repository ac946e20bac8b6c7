// pci and the configuration forms of mm over fake root bridges.
#include "pci.h"
#include "phys_memory.h"
#include "command_test.h"

using namespace tarn;

using namespace tarn_test;

namespace {

void put(std::string& s, size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; i++) s[at + i] = static_cast<char>(v >> (8 * i));
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

// A shell whose output is not paged (dumps are longer than the screen).
struct PciShell : CommandShell {
    PciShell() { run("set -v pager off"); }
};

}  // namespace

TEST(HwPci, ListingAcrossBridgesAndBusRanges) {
    PciShell s;
    auto& low = sim::add_root_bridge(s.fw, {0, true, 0, 0x7f});
    // The second bridge reports 0x80 to 0x1FF: only 0x80 to 0xFF are scanned.
    auto& high = sim::add_root_bridge(s.fw, {0, true, 0x80, 0x1ff});
    low.put_function(0, 0, 0, sim::pci_header(0x8086, 0x29c0, 0x060000));
    // A single-function device: function 1 answers but is not probed.
    low.put_function(0, 2, 0, sim::pci_header(0x1234, 0x1111, 0x030000));
    low.put_function(0, 2, 1, sim::pci_header(0x1234, 0x2222, 0x030000));
    // A multi-function device with a gap at function 1.
    low.put_function(0, 0x1f, 0, sim::pci_header(0x8086, 0x2918, 0x060100, 0x80));
    low.put_function(0, 0x1f, 2, sim::pci_header(0x8086, 0x2922, 0x010601));
    high.put_function(0x81, 0, 0, sim::pci_header(0x1af4, 0x1041, 0x020000));
    high.put_function(0xff, 3, 0, sim::pci_header(0x1b36, 0x0001, 0x123456));
    auto r = s.run("pci");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "   Seg  Bus  Dev  Func\n   ---  ---  ---  ----\n"
              "    00   00   00    00 ==> Bridge Device - Host/PCI bridge\n"
              "             Vendor 8086 Device 29C0 Prog Interface 0\n"
              "    00   00   02    00 ==> Display Controller - VGA controller\n"
              "             Vendor 1234 Device 1111 Prog Interface 0\n"
              "    00   00   1F    00 ==> Bridge Device - PCI/ISA bridge\n"
              "             Vendor 8086 Device 2918 Prog Interface 0\n"
              "    00   00   1F    02 ==> Mass Storage Controller - SATA controller\n"
              "             Vendor 8086 Device 2922 Prog Interface 1\n"
              "    00   81   00    00 ==> Network Controller - Ethernet\n"
              "             Vendor 1AF4 Device 1041 Prog Interface 0\n"
              "    00   FF   03    00 ==> Processing Accelerator - subclass 34\n"
              "             Vendor 1B36 Device 0001 Prog Interface 56\n");
    // Function 1 of the single-function device was never read.
    for (auto& line : low.log) EXPECT_NE(line.rfind("R 00:02.1", 0), 0u) << line;
    // Buses outside each bridge's range were not read.
    for (auto& line : high.log) EXPECT_GE(line.substr(2, 2), "80") << line;
    for (auto& line : low.log) EXPECT_LT(line.substr(2, 2), "80") << line;
}

TEST(HwPci, DataRecordsAndSegments) {
    PciShell s;
    auto& a = sim::add_root_bridge(s.fw, {0, true, 0, 0});
    auto& b = sim::add_root_bridge(s.fw, {1, false});
    a.put_function(0, 1, 0, sim::pci_header(0x8086, 0x10d3, 0x020000));
    b.put_function(0x10, 4, 0, sim::pci_header(0x10de, 0x1234, 0xff0000));
    EXPECT_EQ(s.run("pci -data -s 1").out,
              "segment=01\nbus=10\ndevice=04\nfunction=00\nvendor=10DE\ndeviceid=1234\nclass=FF0000\n"
              "classname=Unassigned - subclass 00\n");
    auto r = s.run("pci -data");
    EXPECT_EQ(count_of(r.out, "vendor="), 2);
    EXPECT_NE(r.out.find("classname=Network Controller - Ethernet\n"), std::string::npos);
}

std::string bridge_with_caps() {
    std::string c = sim::pci_header(0x8086, 0x100e, 0x020000);
    put(c, 4, 0x0007, 2);    // I/O, memory, bus master
    put(c, 6, 0x0010, 2);    // capabilities
    put(c, 0x10, 0xfebc0000, 4);
    put(c, 0x14, 0xc001, 4);         // I/O BAR
    put(c, 0x18, 0xfe00000c, 4);     // 64-bit prefetchable, high half next
    put(c, 0x1c, 0x00000001, 4);
    put(c, 0x24, 0x00000004, 4);     // 64-bit in the last slot: not paired
    put(c, 0x2c, 0x1af4, 2);
    put(c, 0x2e, 0x1100, 2);
    c[0x3c] = 0x0b;
    c[0x3d] = 0x01;
    c[0x34] = 0x41;           // low bits masked: 0x40
    c[0x40] = 0x01; c[0x41] = 0x50;
    c[0x50] = 0x10; c[0x51] = 0x40;  // loops back to 0x40
    return c;
}

TEST(HwPci, DecodingBarsAndCapabilities) {
    PciShell s;
    auto& b = sim::add_root_bridge(s.fw);
    b.put_function(0, 3, 0, bridge_with_caps());
    auto r = s.run("pci 0 3 -i");
    EXPECT_EQ(r.code, 0);
    std::string caps = "  Capabilities:";
    for (int i = 0; i < 24; i++) caps += " [40] Power Management [50] PCI Express";
    caps += "\n";
    const std::string head =
        "PCI Segment 00 Bus 00 Device 03 Func 00\n"
        "  Vendor ID 8086  Device ID 100E  Revision 01\n"
        "  Class 020000: Network Controller - Ethernet\n"
        "  Command 0007 (I/O on, memory on, bus master on)  Status 0010 (capabilities)\n"
        "  Header type 00 (device)\n"
        "  BAR0  MEM32 0xFEBC0000\n"
        "  BAR1  I/O  0xC000\n"
        "  BAR2  MEM64 0x1FE000000 prefetchable\n"
        "  BAR5  MEM32 0x0\n"
        "  Subsystem 1AF4:1100\n"
        "  Interrupt line 0B pin 01\n" + caps +
        "  0000000000000000: 86 80 0E 10 07 00 10 00-01 00 00 02 00 00 00 00  *................*\n";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    EXPECT_EQ(count_of(r.out, "\n  00000000000000"), 16);
    EXPECT_EQ(s.run("pci 0 3 0 -data").out,
              "segment=00\nbus=00\ndevice=03\nfunction=00\nvendor=8086\ndeviceid=100E\nrevision=01\n"
              "class=020000\nclassname=Network Controller - Ethernet\ncommand=0007\nstatus=0010\n"
              "headertype=00\nbar0=mem32 0xFEBC0000\nbar1=io 0xC000\nbar2=mem64 0x1FE000000 prefetchable\n"
              "bar5=mem32 0x0\nsubsystem=1AF4:1100\nirqline=0B\nirqpin=01\n");
}

TEST(HwPci, BridgeHeaderAndTruncatedChain) {
    PciShell s;
    auto& b = sim::add_root_bridge(s.fw);
    std::string c = sim::pci_header(0x1b36, 0x000c, 0x060400, 0x81);
    put(c, 6, 0x0010, 2);
    put(c, 0x10, 0xfe800000, 4);
    c[0x18] = 0; c[0x19] = 1; c[0x1a] = 4;
    c[0x34] = 0xfc;            // the last dword: the chain runs off the end of the header
    c[0xfc] = 0x11; c[0xfd] = 0x00;
    b.put_function(0, 4, 0, c);
    auto r = s.run("pci 0 4 -i");
    EXPECT_NE(r.out.find("  Header type 81 (PCI-PCI bridge, multi-function)\n  BAR0  MEM32 0xFE800000\n"
                         "  Buses: primary 00 secondary 01 subordinate 04\n  Interrupt line 00 pin 00\n"
                         "  Capabilities: [FC] MSI-X\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Subsystem"), std::string::npos);
}

TEST(HwPci, ExtendedSpaceAndFailures) {
    PciShell s;
    auto& b = sim::add_root_bridge(s.fw);
    std::string c = sim::pci_header(0x8086, 0x10d3, 0x020000);
    c.resize(4096, '\0');
    c[0x100] = 0x5a;
    b.put_function(0, 1, 0, c);
    auto r = s.run("pci 0 1 0 -ec");
    EXPECT_EQ(count_of(r.out, "\n  0000000000000"), 256);
    EXPECT_NE(r.out.find("  0000000000000100: 5A 00"), std::string::npos);
    // Past 256 bytes the dump stops at the first failure.
    b.fail_from = 0x200;
    r = s.run("pci 0 1 0 -ec");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(count_of(r.out, "\n  0000000000000"), 32);
    b.fail_from = 0x80;
    r = s.run("pci 0 1 0");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "pci: cannot read the configuration space of 00:01.0\n");
    b.fail_from = 0x10000;
    struct Case { const char* line; int code; const char* error; } cases[] = {
        {"pci 0 5", 1, "pci: no device at segment 0 bus 00 device 05 function 0\n"},
        {"pci 0 1 0 -s 7", 1, "pci: cannot read the configuration space of 00:01.0\n"},
        {"pci 0", 2, nullptr}, {"pci 0 1 2 3", 2, nullptr}, {"pci 0 20", 2, nullptr},
        {"pci 0 1 8", 2, nullptr}, {"pci x 1", 2, nullptr}, {"pci -s", 2, nullptr},
    };
    for (auto& k : cases) {
        auto e = s.run(k.line);
        EXPECT_EQ(e.code, k.code) << k.line;
        if (k.error) EXPECT_EQ(e.errors, k.error) << k.line;
        else EXPECT_NE(e.errors.find("usage: pci"), std::string::npos) << k.line;
    }
}

TEST(HwPci, MmConfigurationForms) {
    PciShell s;
    auto& seg0 = sim::add_root_bridge(s.fw, {0, true, 0, 0x7f});
    auto& seg2 = sim::add_root_bridge(s.fw, {2, true, 0, 0xff});
    std::string c = sim::pci_header(0x8086, 0x10d3, 0x020000);
    c.resize(4096, '\0');
    c[0x804] = 0x33;
    seg0.put_function(0, 3, 0, c);
    seg2.put_function(0x12, 5, 6, sim::pci_header(0x1af4, 0x1000, 0x020000));
    EXPECT_EQ(s.run("mm 00030000 -PCI -w 4 -n").out, "PCI  0x0000000000030000 : 0x10D38086\n");
    EXPECT_EQ(s.run("mm 212050602 -pci -w 2 -n").out, "PCI  0x0000000212050602 : 0x1000\n");
    EXPECT_EQ(s.run("mm 00300804 -PCIE -n").out, "PCIE 0x0000000000300804 : 0x33\n");
    EXPECT_EQ(s.run("mm 00030004 6 -PCI -w 2").code, 0);
    EXPECT_EQ(seg0.space(0, 3, 0)[4], 6);
    EXPECT_EQ(seg0.log.back(), "W 00:03.0 4 2");
    // Bus 0x80 of segment 0 has no bridge; segment 1 neither.
    auto r = s.run("mm 80030000 -PCI -n");
    EXPECT_EQ(r.errors, "mm: read failed at 80030000\n");
    r = s.run("mm 100030000 -PCI -n");
    EXPECT_EQ(r.errors, "mm: read failed at 100030000\n");
}

TEST(HwPci, DmemThroughTheBridge) {
    PciShell s;
    sim::add_root_bridge(s.fw, {1, true, 0, 0xff});
    std::string bytes = "MMIO through the root bridge";
    uint64_t at = sim::add_physical_blob(s.fw, bytes, 0x5000);
    // No segment-0 bridge yet.
    EXPECT_EQ(s.run("dmem 5000 10 -MMIO").errors, "dmem: MMIO read failed\n");
    sim::add_root_bridge(s.fw, {0, true, 0, 0x7f});
    auto direct = s.run("dmem 5000 1c");
    auto bridged = s.run("dmem 5000 1c -mmio");
    EXPECT_EQ(bridged.code, 0);
    EXPECT_EQ(bridged.out, direct.out);
    EXPECT_NE(bridged.out.find("*MMIO through the*"), std::string::npos) << bridged.out;
    EXPECT_EQ(s.run("dmem 5000 1d -MMIO").errors, "dmem: MMIO read failed\n");
    (void)at;
}
