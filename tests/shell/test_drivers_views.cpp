// dh, drivers, devices, devtree and openinfo over a simulated handle database.
#include "driver_shell.h"
#include "drivers/protocol_names.h"

using namespace tarn;
using namespace tarn_test;

namespace {

const efi::Guid kDiskIo = {0xce345171, 0xba0b, 0x11d2, {0x8e, 0x4f, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b}};

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

std::string line_of(const std::string& text, const std::string& start) {
    size_t at = text.find("\n" + start);
    if (at == std::string::npos) return text.rfind(start, 0) == 0 ? text.substr(0, text.find('\n')) : "";
    at++;
    return text.substr(at, text.find('\n', at) - at);
}

TEST(DriversViews, LateHandlesGetTheNextNumber) {
    DriverShell s;
    auto first = s.output("dh");
    const uint64_t before = handle_table_count();
    ASSERT_GT(before, 3u);
    const std::string controller = hex(s.controller);
    efi::Handle late = s.fw.handles().install_new(kDiskIo, &s);
    auto second = s.output("dh");
    EXPECT_EQ(handle_number(late), before + 1);
    EXPECT_EQ(hex(s.controller), controller);
    // Every line of the first listing is still there, and the new handle comes last.
    size_t at = 0;
    while (at < first.size()) {
        size_t end = first.find('\n', at);
        EXPECT_NE(second.find(first.substr(at, end - at + 1)), std::string::npos) << first.substr(at, end - at);
        at = end + 1;
    }
    char line[32];
    format_into(line, sizeof line, "%3X: DiskIo\n", static_cast<unsigned>(before + 1));
    EXPECT_EQ(second.substr(second.size() - strlen(line)), line);
    // A vanished handle keeps its slot: a new one does not take its number.
    ASSERT_EQ(s.fw.handles().uninstall(late, kDiskIo, &s), efi::kSuccess);
    efi::Handle later = s.fw.handles().install_new(kDiskIo, &s);
    s.output("dh");
    EXPECT_EQ(handle_number(later), before + 2);
}

TEST(DriversViews, ProtocolFilterByNameGuidAndRunTimeName) {
    DriverShell s;
    auto by_name = s.output("dh -p blockio");
    EXPECT_GE(count_of(by_name, "BlockIo"), 2);  // the volume's disk and the block device
    EXPECT_EQ(count_of(by_name, "\n"), count_of(by_name, "BlockIo"));
    EXPECT_EQ(s.output("dh -p 964E5B21-6459-11D2-8E39-00A0C969723B"), by_name);
    EXPECT_EQ(s.output("dh -p PciIo"), "No handle has the PciIo protocol.\n");
    s.expect_failure("dh -p NoSuch", 1, "dh: unknown protocol NoSuch (use a name like BlockIo or a GUID)\n");
    s.expect_failure("dh -p 964E5B21-6459", 1, "unknown protocol");
    efi::Guid block;
    ASSERT_TRUE(protocol_guid("BlockIo", &block));
    ASSERT_TRUE(register_protocol_name(block, "Blocky"));
    auto renamed = s.output("dh -p blocky");
    EXPECT_EQ(count_of(renamed, "Blocky"), count_of(by_name, "BlockIo"));
    EXPECT_EQ(count_of(renamed, " BlockIo"), 0);
    // An unnamed GUID shows as its text.
    const efi::Guid odd = {0xabcdef01, 0x2345, 0x6789, {1, 2, 3, 4, 5, 6, 7, 8}};
    efi::Handle h = s.fw.handles().install_new(odd, &s);
    EXPECT_EQ(line_of(s.output("dh"), hex(h).insert(0, 3 - hex(h).size(), ' ') + ":"),
              hex(h).insert(0, 3 - hex(h).size(), ' ') + ": abcdef01-2345-6789-0102-030405060708");
}

TEST(DriversViews, BadHandleNumbers) {
    DriverShell s;
    s.output("dh");
    efi::Handle gone = s.fw.handles().install_new(kDiskIo, &s);
    s.output("dh");
    const std::string vanished = hex(gone);
    ASSERT_EQ(s.fw.handles().uninstall(gone, kDiskIo, &s), efi::kSuccess);
    for (std::string command : {"dh", "openinfo", "devtree", "unload", "connect", "disconnect", "reconnect", "drvcfg", "drvdiag"}) {
        for (std::string bad : {"zz", "0", "FFFF", vanished.c_str(), "-1x"}) {
            if (bad == "-1x") continue;
            s.expect_failure(command + " " + bad, 1, command + ": " + bad + " is not a valid handle number (see dh)\n");
        }
    }
    s.expect_failure("dh 1 2", 2, "usage: dh");
    s.expect_failure("openinfo", 2, "usage: openinfo");
    s.expect_failure("dh -q", 2, "dh: unknown option");
}

TEST(DriversViews, DriversListing) {
    DriverShell s;
    sim::DriverLayout bus;
    bus.name = std::string(35, 'B');
    bus.make_child = true;
    bus.configuration = true;
    bus.version = 0xA;
    bus.image = debug_image(DebugImage{});
    auto& b = s.driver(bus);
    sim::DriverLayout plain;
    plain.name = std::string(34, 'D') + "XY";
    plain.diagnostics = true;
    plain.consumes = kDiskIo;
    auto& d = s.driver(plain);
    sim::DriverLayout nameless;
    nameless.name = "";
    auto& n = s.driver(nameless);
    ASSERT_EQ(s.connect(s.controller, b.handle), efi::kSuccess);
    ASSERT_EQ(b.children.size(), 1u);
    ASSERT_EQ(s.connect(b.children[0], d.handle), efi::kSuccess);
    auto out = s.output("drivers");
    EXPECT_EQ(out.rfind("            T   D\n            Y C I\n            P F A\n"
                        "DRV VERSION E G G #D #C DRIVER NAME                         IMAGE NAME\n"
                        "=== ======= = = = == == =================================== ===================\n",
                        0),
              0u);
    auto row = [&](efi::Handle h) {
        std::string number = hex(h);
        return line_of(out, std::string(3 - number.size(), ' ') + number + " ");
    };
    // The 35-character name is whole; a bus driver with one controller and one child.
    EXPECT_EQ(row(b.handle), std::string(3 - hex(b.handle).size(), ' ') + hex(b.handle) + " 000000A B X -  1  1 " +
                                 std::string(35, 'B') + " TestDrv");
    // 36 characters: 34 and "~"; a device driver.
    EXPECT_EQ(row(d.handle).substr(4), "0000010 D - X  1  - " + std::string(34, 'D') + "~ ");
    EXPECT_EQ(row(n.handle).substr(4, 23), "0000010 D - -  -  - <un");
    EXPECT_NE(out.find("\nTYPE: B bus driver, D device driver. CFG/DIAG: configuration/diagnostics support.\n"),
              std::string::npos);
    auto data = s.output("drivers -data");
    EXPECT_NE(data.find("handle=" + hex(b.handle) + "\nversion=A\ntype=bus\nconfig=yes\ndiag=no\ncontrollers=1\n"
                        "children=1\nname=" + std::string(35, 'B') + "\nimage=TestDrv\n"),
              std::string::npos);
    EXPECT_EQ(data.find("TYPE:"), std::string::npos);
}

TEST(DriversViews, DevicesTypesAndCounts) {
    DriverShell s;
    sim::DriverLayout bus;
    bus.make_child = true;
    bus.diagnostics = true;
    auto& b = s.driver(bus);
    sim::DriverLayout second;
    second.consumes = kDiskIo;
    second.make_child = true;
    auto& c = s.driver(second);
    b.controller_names[s.controller] = u"Sim Disk Controller";
    ASSERT_EQ(s.connect(s.controller, b.handle), efi::kSuccess);
    efi::Handle child = b.children.at(0);
    ASSERT_EQ(s.connect(child, c.handle), efi::kSuccess);
    efi::Handle grandchild = c.children.at(0);
    auto out = s.output("devices");
    EXPECT_EQ(out.rfind("     T   D\n     Y C I\n     P F A\nCTRL E G G #P #D #C Device Name\n", 0), 0u);
    auto row = [&](efi::Handle h) {
        std::string number = hex(h);
        return line_of(out, std::string(4 - number.size(), ' ') + number + " ");
    };
    EXPECT_EQ(row(s.controller).substr(5), "R - X  -  1  1 Sim Disk Controller");
    EXPECT_EQ(row(child).substr(5, 15), "B - -  1  1  1 ");
    EXPECT_EQ(row(grandchild).substr(5, 15), "D - -  1  -  - ");
    EXPECT_EQ(row(b.handle), "");  // drivers and images are not devices
    EXPECT_NE(out.find("TYPE: R root controller, B bus controller, D device. #P parents, #D drivers, #C children.\n"),
              std::string::npos);
    auto data = s.output("devices -data");
    EXPECT_NE(data.find("handle=" + hex(child) + "\ntype=bus\nconfig=no\ndiag=no\nparents=1\ndrivers=1\nchildren=1\n"),
              std::string::npos);
    // The tree from the controller: the child and the grandchild, each once.
    auto tree = s.output("devtree " + hex(s.controller));
    EXPECT_EQ(count_of(tree, "\n"), 3);
    EXPECT_EQ(tree.rfind("Ctrl[" + hex(s.controller) + "] Sim Disk Controller\n  Ctrl[" + hex(child) + "] ", 0), 0u);
    EXPECT_NE(tree.find("\n    Ctrl[" + hex(grandchild) + "] "), std::string::npos);
    auto paths = s.output("devtree -d " + hex(s.controller));
    EXPECT_NE(paths.find("Ctrl[" + hex(s.controller) + "] PciRoot(0x0)/Pci(0x5,0x0)"), std::string::npos);
    EXPECT_NE(s.output("devtree").find("Ctrl[" + hex(s.controller) + "] Sim Disk Controller\n"), std::string::npos);
}

TEST(DriversViews, OpenInfoAndDetails) {
    DriverShell s;
    sim::DriverLayout layout;
    layout.name = "Sim Bus";
    layout.make_child = true;
    layout.image = debug_image(DebugImage{});
    auto& b = s.driver(layout);
    ASSERT_EQ(s.connect(s.controller, b.handle), efi::kSuccess);
    auto out = s.output("openinfo " + hex(s.controller));
    EXPECT_EQ(out.rfind("Handle " + hex(s.controller) + " (0x", 0), 0u);
    EXPECT_NE(out.find("   BlockIo\n      Drv[" + hex(b.handle) + "] Ctrl[" + hex(s.controller) +
                       "] Cnt(1) Driver           TestDrv\n"),
              std::string::npos);
    EXPECT_NE(out.find("      Drv[" + hex(b.handle) + "] Ctrl[" + hex(b.children[0]) + "] Cnt(1) Child            TestDrv\n"),
              std::string::npos);
    auto details = s.output("dh " + hex(b.handle));
    EXPECT_NE(details.find(") Sim Bus\n"), std::string::npos);
    EXPECT_NE(details.find("   DriverBinding\n      Version: 0x10  Image: " + hex(b.handle) + "  Name: Sim Bus\n"),
              std::string::npos);
    EXPECT_NE(details.find("   LoadedImage\n      Name: TestDrv  File: \n"), std::string::npos);
    EXPECT_NE(details.find("Code: boot driver  Parent: 0  Device: 0\n"), std::string::npos);
    auto disk = s.output("dh -d -p BlockIo");
    EXPECT_NE(disk.find("      disk, block size 512, 64 blocks (0 MiB)\n"), std::string::npos);
    EXPECT_NE(disk.find("   SimpleFileSystem\n      Volume fs0: \""), std::string::npos);
    auto record = s.output("dh -data " + hex(s.controller));
    EXPECT_NE(record.find("handle=" + hex(s.controller) + "\nname=\nprotocols="), std::string::npos);
    EXPECT_NE(record.find("\ndevicepath=PciRoot(0x0)/Pci(0x5,0x0)\n"), std::string::npos);
}

// A firmware volume whose ReadSection gives the UI section of one file.
const efi::Guid kFileName = {0x1234abcd, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
int g_read_sections = 0;

efi::Status EFIAPI read_ui_section(efi::FirmwareVolume2*, const efi::Guid* name, uint8_t type, uint64_t instance,
                                   void** buffer, uint64_t* size, uint32_t* authentication) {
    g_read_sections++;
    if (!(*name == kFileName) || type != efi::kSectionUserInterface || instance != 0) return efi::kNotFound;
    static const char16_t kText[] = u"FromVolumeDxe";
    void* block = sim::SimFirmware::current()->allocate_pool(sizeof kText);
    memcpy(block, kText, sizeof kText);
    *buffer = block;
    *size = sizeof kText;
    *authentication = 0;
    return efi::kSuccess;
}

TEST(DriversViews, ImageNamesFromTheFirmwareVolumeAndTheFilePath) {
    DriverShell s;
    efi::FirmwareVolume2 fv{};
    fv.read_section = read_ui_section;
    efi::Handle volume = s.fw.handles().install_new(efi::kFirmwareVolume2ProtocolGuid, &fv);
    // A file-path node list: a firmware-file node naming kFileName, then the end.
    uint8_t path[24] = {efi::kMediaDevicePath, efi::kMediaFirmwareFileSubType, 20, 0};
    memcpy(path + 4, &kFileName, sizeof kFileName);
    const uint8_t end[4] = {efi::kEndDevicePath, efi::kEndEntireSubType, 4, 0};
    memcpy(path + 20, end, 4);
    auto image = debug_image(DebugImage{});
    image[0] = 'X';  // no debug name: the volume's name is next
    efi::LoadedImage li{};
    li.device_handle = volume;
    li.file_path = reinterpret_cast<efi::DevicePath*>(path);
    li.image_base = image.data();
    li.image_size = image.size();
    li.image_code_type = efi::kBootServicesCode;
    efi::Handle h = s.fw.handles().install_new(efi::kLoadedImageProtocolGuid, &li);
    s.output("dh");
    EXPECT_NE(s.output("dh " + hex(h)).find("      Name: FromVolumeDxe  File: "), std::string::npos);
    EXPECT_GT(g_read_sections, 0);
    // Without the volume the file path's text is the name.
    li.device_handle = nullptr;
    auto details = s.output("dh " + hex(h));
    EXPECT_NE(details.find("      Name: Path(4,6,CDAB3412111122220102030405060708)  File: Path(4,6,"),
              std::string::npos)
        << details;
}

TEST(DriversViews, HugeAndUnterminatedNamesAreBounded) {
    DriverShell s;
    sim::DriverLayout huge;
    huge.name = std::string(300, 'H');
    huge.name_terminated = false;  // 300 units and no NUL: the reader stops at 256
    auto& h = s.driver(huge);
    auto row = line_of(s.output("drivers"), std::string(3 - hex(h.handle).size(), ' ') + hex(h.handle));
    EXPECT_NE(row.find(std::string(34, 'H') + "~"), std::string::npos) << row;
    auto details = s.output("dh " + hex(h.handle));
    EXPECT_NE(details.find("  Name: " + std::string(256, 'H') + "\n"), std::string::npos);
    EXPECT_EQ(details.find(std::string(257, 'H')), std::string::npos);
}

TEST(DriversViews, LanguageChoiceReachesTheDriver) {
    DriverShell s;
    sim::DriverLayout layout;
    layout.name = "Polyglot";
    layout.languages = "fr;de";
    auto& d = s.driver(layout);
    auto row = line_of(s.output("drivers"), std::string(3 - hex(d.handle).size(), ' ') + hex(d.handle));
    EXPECT_NE(row.find("Polyglot"), std::string::npos);  // the first entry, "fr"
    sim::DriverLayout old;
    old.name = "Old Names";
    old.name2 = false;
    old.languages = "eng;fra";
    auto& o = s.driver(old);
    EXPECT_NE(s.output("drivers -l fra").find("Old Names"), std::string::npos);
    EXPECT_NE(s.output("drivers -l fr").find("Old Names"), std::string::npos);  // "eng"
    (void)o;
}

}  // namespace
