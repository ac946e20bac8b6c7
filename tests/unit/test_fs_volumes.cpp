// The volume table, extra names and the current directory.
#include <string>

#include "test_fs_support.h"

using namespace tarn;
using fs_test::FsTest;

namespace {

std::string extra_text(const char* volume) {
    StringBuffer out;
    extra_names_of(volume, out);
    return out.c_str();
}

TEST_F(FsTest, VolumesAreNumberedByDevicePathNotHandleOrder) {
    sim::VolumeId c = add(3, "THIRD");
    sim::VolumeId a = add(1, "FIRST");
    sim::VolumeLayout usb;
    usb.label = "STICK";
    usb.location.pci_device = 1;
    usb.location.usb = true;
    usb.location.usb_port = 2;
    usb.removable = true;
    sim::VolumeId u = sim::add_volume(fw, usb);
    sim::VolumeId b = add(2, "SECOND");
    sim::set_boot_volume(fw, b);
    initialize_volumes();
    ASSERT_EQ(volume_count(), 4);
    // "PciRoot(0x0)/Pci(0x1,0x0)/HD" < ".../Pci(0x1,0x0)/USB" < "Pci(0x2" < "Pci(0x3".
    EXPECT_EQ(volume_handle(0), sim::volume_handle(fw, a));
    EXPECT_EQ(volume_handle(1), sim::volume_handle(fw, u));
    EXPECT_EQ(volume_handle(2), sim::volume_handle(fw, b));
    EXPECT_EQ(volume_handle(3), sim::volume_handle(fw, c));
    EXPECT_STREQ(volume_at(0)->name, "fs0");
    EXPECT_STREQ(volume_at(3)->name, "fs3");
    EXPECT_STREQ(volume_at(1)->label, "STICK");
    EXPECT_TRUE(volume_at(1)->removable);
    EXPECT_FALSE(volume_at(0)->removable);
    EXPECT_STREQ(volume_at(2)->device_path_text,
                 "PciRoot(0x0)/Pci(0x2,0x0)/HD(1,MBR,0x00001003,0x800,0x80)");
    EXPECT_EQ(volume_at(2)->size, 64ull << 20);
    EXPECT_EQ(volume_at(2)->free, 64ull << 20);
    EXPECT_FALSE(volume_at(2)->read_only);
    EXPECT_EQ(boot_volume_index(), 2);
    EXPECT_STREQ(current_directory(), "fs2:\\");
    EXPECT_EQ(volume_at(4), nullptr);
    EXPECT_EQ(volume_at(-1), nullptr);
    EXPECT_EQ(volume_handle(7), nullptr);
    EXPECT_EQ(volume_of_handle(sim::volume_handle(fw, c)), 3);
}

TEST_F(FsTest, StartDirectoryWithoutBootVolume) {
    add(5);
    add(4);
    initialize_volumes();
    EXPECT_EQ(boot_volume_index(), -1);
    EXPECT_STREQ(current_directory(), "fs0:\\");
}

TEST_F(FsTest, NoVolumes) {
    initialize_volumes();
    EXPECT_EQ(volume_count(), 0);
    EXPECT_EQ(boot_volume_index(), -1);
    EXPECT_STREQ(current_directory(), "");
    EXPECT_EQ(change_directory("x"), kErrNotFound);
}

TEST_F(FsTest, MissingTextServiceLeavesTextsEmpty) {
    add(2, "B");
    add(1, "A");
    sim::set_device_path_text_service(fw, false);
    initialize_volumes();
    ASSERT_EQ(volume_count(), 2);
    EXPECT_STREQ(volume_at(0)->device_path_text, "");
    EXPECT_STREQ(volume_at(1)->device_path_text, "");
    // Equal texts keep the firmware's order.
    EXPECT_STREQ(volume_at(0)->label, "B");
    sim::set_device_path_text_service(fw, true);
}

TEST_F(FsTest, UnreadableInformationGivesEmptyLabelAndZeroSizes) {
    sim::VolumeId v = add(1, "LABEL");
    sim::inject_file_error(fw, v, sim::FileOp::GetInfo, efi::kDeviceError);
    initialize_volumes();
    EXPECT_STREQ(volume_at(0)->label, "");
    EXPECT_EQ(volume_at(0)->size, 0u);
    EXPECT_EQ(volume_at(0)->free, 0u);
    rescan_volumes();
    EXPECT_STREQ(volume_at(0)->label, "LABEL");
}

TEST_F(FsTest, SetVolumeLabel) {
    sim::VolumeId v = add(1, "OLD");
    add(2, "RO", true);
    initialize_volumes();
    ASSERT_EQ(set_volume_label(0, "NEWLABEL"), kOk);
    EXPECT_STREQ(volume_at(0)->label, "NEWLABEL");
    EXPECT_EQ(sim::volume_label(fw, v), "NEWLABEL");
    ASSERT_EQ(set_volume_label(0, ""), kOk);
    EXPECT_EQ(sim::volume_label(fw, v), "");
    EXPECT_EQ(set_volume_label(1, "X"), kErrWriteProtected);
    EXPECT_STREQ(volume_at(1)->label, "RO");
    EXPECT_EQ(set_volume_label(2, "X"), kErrInvalidParameter);
    EXPECT_EQ(set_volume_label(0, "TWELVECHARSX"), kErrInvalidParameter);
}

TEST_F(FsTest, ExtraNames) {
    add(1);
    add(2);
    add(3);
    initialize_volumes();
    EXPECT_EQ(set_extra_name("fs0", "fs1"), kErrAlreadyExists);
    EXPECT_EQ(set_extra_name("FS2", "fs1"), kErrAlreadyExists);
    EXPECT_EQ(extra_name_count(), 0);
    // A volume-like name that is no current volume is accepted.
    EXPECT_EQ(set_extra_name("fs9", "fs2"), kOk);
    EXPECT_EQ(volume_index("fs9", 3), 2);
    EXPECT_EQ(set_extra_name("usb", "fs1"), kOk);
    EXPECT_EQ(set_extra_name("stick", "FS1"), kOk);
    EXPECT_EQ(extra_text("fs1"), "usb:;stick:");
    EXPECT_EQ(extra_text("fs0"), "");
    EXPECT_EQ(volume_index("USB", 3), 1);
    EXPECT_EQ(volume_index("usbx", 3), 1);  // only the first three characters count
    EXPECT_EQ(volume_index("us", 2), -1);
    // Setting a name again replaces it; a null target removes it.
    EXPECT_EQ(set_extra_name("USB", "fs0"), kOk);
    EXPECT_EQ(extra_text("fs1"), "stick:");
    EXPECT_EQ(extra_text("fs0"), "USB:");
    EXPECT_EQ(set_extra_name("usb", nullptr), kOk);
    EXPECT_EQ(set_extra_name("never", nullptr), kOk);
    EXPECT_EQ(extra_text("fs0"), "");
    EXPECT_EQ(extra_name_count(), 2);
    // Names that could never be typed as a volume reference.
    EXPECT_EQ(set_extra_name("", "fs0"), kErrInvalidParameter);
    EXPECT_EQ(set_extra_name("a:b", "fs0"), kErrInvalidParameter);
    EXPECT_EQ(set_extra_name("a\\b", "fs0"), kErrInvalidParameter);
    EXPECT_EQ(extra_name_count(), 2);
    // A name whose target does not exist resolves to nothing.
    EXPECT_EQ(set_extra_name("gone", "fs7"), kOk);
    EXPECT_EQ(volume_index("gone", 4), -1);
    // Extra names survive rescans.
    rescan_volumes();
    EXPECT_EQ(volume_index("stick", 5), 1);
}

TEST_F(FsTest, ChangeDirectory) {
    sim::VolumeId v = add(1);
    add(2);
    sim::add_directory(fw, v, "\\EFI\\Boot");
    sim::add_file(fw, v, "\\file.txt", "x");
    initialize_volumes();
    EXPECT_EQ(change_directory("efi\\BOOT"), kOk);
    EXPECT_STREQ(current_directory(), "fs0:\\efi\\BOOT");
    EXPECT_EQ(change_directory("\\file.txt"), kErrNotDirectory);
    EXPECT_EQ(change_directory("nothing"), kErrNotFound);
    EXPECT_EQ(change_directory("fs5:"), kErrNotFound);
    EXPECT_STREQ(current_directory(), "fs0:\\efi\\BOOT");
    EXPECT_EQ(change_directory("fs1:"), kOk);
    EXPECT_STREQ(current_directory(), "fs1:\\");
    sim::inject_file_error(fw, v, sim::FileOp::Open, efi::kDeviceError);
    EXPECT_EQ(change_directory("fs0:\\efi"), kErrIo);
    EXPECT_STREQ(current_directory(), "fs1:\\");
}

TEST_F(FsTest, RescanKeepsOrFallsBack) {
    sim::VolumeId a = add(1);
    sim::VolumeId b = add(2);
    sim::add_directory(fw, b, "\\work");
    sim::set_boot_volume(fw, a);
    initialize_volumes();
    ASSERT_EQ(change_directory("fs1:\\work"), kOk);
    rescan_volumes_keep_directory();
    EXPECT_STREQ(current_directory(), "fs1:\\work");
    // The directory's volume is gone: back to the boot volume's root.
    sim::remove_volume(fw, b);
    rescan_volumes_keep_directory();
    EXPECT_STREQ(current_directory(), "fs0:\\");
    EXPECT_EQ(volume_count(), 1);
}

}  // namespace
