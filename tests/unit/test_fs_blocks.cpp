// Block devices, device names and the shell-wide handle numbers.
#include <string>
#include <vector>

#include "handles.h"
#include "test_fs_support.h"
#include "uefi/guids.h"

using namespace tarn;
using fs_test::FsTest;

namespace {

class BlockTest : public FsTest {
protected:
    sim::BlockId disk = 0, ro = 0, nomedia = 0;
    sim::VolumeId vol = 0;
    void SetUp() override {
        FsTest::SetUp();
        sim::BlockLayout setup;
        setup.location.pci_device = 5;
        setup.blocks = 16;
        disk = sim::add_block_device(fw, setup);
        setup.location.pci_device = 4;
        setup.read_only = true;
        ro = sim::add_block_device(fw, setup);
        setup.location.pci_device = 6;
        setup.read_only = false;
        setup.media_present = false;
        setup.removable = true;
        nomedia = sim::add_block_device(fw, setup);
        vol = add(1, "VOL");
        auto& data = sim::block_data(fw, disk);
        for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7);
        initialize_volumes();
    }
};

TEST_F(BlockTest, TableIsOrderedByDevicePath) {
    rescan_block_devices();
    ASSERT_EQ(block_device_count(), 4);
    EXPECT_EQ(block_device_at(0)->handle, sim::volume_handle(fw, vol));  // Pci(0x1
    EXPECT_EQ(block_device_at(1)->handle, sim::block_handle(fw, ro));    // Pci(0x4
    EXPECT_EQ(block_device_at(2)->handle, sim::block_handle(fw, disk));  // Pci(0x5
    EXPECT_EQ(block_device_at(3)->handle, sim::block_handle(fw, nomedia));
    EXPECT_STREQ(block_device_at(2)->name, "blk2");
    EXPECT_STREQ(block_device_at(2)->device_path_text, "PciRoot(0x0)/Pci(0x5,0x0)");
    EXPECT_EQ(block_device_at(4), nullptr);
}

TEST_F(BlockTest, ResolveDevice) {
    EXPECT_EQ(resolve_device("blk2"), sim::block_handle(fw, disk));
    EXPECT_EQ(resolve_device("BLK2:"), sim::block_handle(fw, disk));
    EXPECT_EQ(resolve_device("blk9"), nullptr);
    EXPECT_EQ(resolve_device("blk99999999999999999999"), nullptr);
    EXPECT_EQ(resolve_device("blk2x"), nullptr);
    EXPECT_EQ(resolve_device("fs0:"), sim::volume_handle(fw, vol));
    EXPECT_EQ(resolve_device("fs0:\\some\\file"), sim::volume_handle(fw, vol));
    EXPECT_EQ(resolve_device("fs3:"), nullptr);
    EXPECT_EQ(resolve_device(""), nullptr);
    EXPECT_EQ(resolve_device("0"), nullptr);
    EXPECT_EQ(resolve_device("zz"), nullptr);
    EXPECT_EQ(resolve_device("fffffffffffffffff"), nullptr);
    uint64_t number = handle_number(sim::block_handle(fw, ro));
    ASSERT_NE(number, 0u);
    char text[32];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(number));
    EXPECT_EQ(resolve_device(text), sim::block_handle(fw, ro));
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(number));
    EXPECT_EQ(resolve_device(text), sim::block_handle(fw, ro));
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(handle_table_count() + 1));
    EXPECT_EQ(resolve_device(text), nullptr);
}

TEST_F(BlockTest, ReadBlocks) {
    efi::Handle h = sim::block_handle(fw, disk);
    uint8_t* data = nullptr;
    uint64_t length = 0;
    uint32_t block_size = 0;
    ASSERT_EQ(read_blocks(h, 3, 2, &data, &length, &block_size), kOk);
    EXPECT_EQ(length, 1024u);
    EXPECT_EQ(block_size, 512u);
    auto& image = sim::block_data(fw, disk);
    EXPECT_EQ(std::vector<uint8_t>(data, data + length),
              std::vector<uint8_t>(image.begin() + 1536, image.begin() + 2560));
    release(data);
    ASSERT_EQ(read_blocks(h, 15, 1, &data, &length, &block_size), kOk);
    release(data);
}

TEST_F(BlockTest, RangesPastTheEndTouchNothing) {
    efi::Handle h = sim::block_handle(fw, disk);
    uint64_t before = sim::block_reads(fw, disk);
    uint8_t* data = nullptr;
    uint64_t length = 0;
    uint32_t block_size = 0;
    EXPECT_EQ(read_blocks(h, 15, 2, &data, &length, &block_size), kErrInvalidParameter);
    EXPECT_EQ(read_blocks(h, 16, 1, &data, &length, &block_size), kErrInvalidParameter);
    EXPECT_EQ(read_blocks(h, 0, 0, &data, &length, &block_size), kErrInvalidParameter);
    EXPECT_EQ(read_blocks(h, ~0ull, 2, &data, &length, &block_size), kErrInvalidParameter);
    EXPECT_EQ(read_blocks(h, 1, ~0ull, &data, &length, &block_size), kErrInvalidParameter);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(sim::block_reads(fw, disk), before);
    std::vector<uint8_t> block(512, 0xaa);
    EXPECT_EQ(write_blocks(h, 16, block.data(), 512), kErrInvalidParameter);
    EXPECT_EQ(write_blocks(h, 15, block.data(), 1024), kErrInvalidParameter);
    EXPECT_EQ(write_blocks(h, 0, block.data(), 100), kErrInvalidParameter);
    EXPECT_EQ(write_blocks(h, 0, block.data(), 0), kErrInvalidParameter);
    EXPECT_EQ(sim::block_writes(fw, disk), 0u);
}

TEST_F(BlockTest, WriteBlocks) {
    efi::Handle h = sim::block_handle(fw, disk);
    std::vector<uint8_t> two(1024);
    for (size_t i = 0; i < two.size(); i++) two[i] = static_cast<uint8_t>(255 - i % 256);
    ASSERT_EQ(write_blocks(h, 14, two.data(), two.size()), kOk);
    auto& image = sim::block_data(fw, disk);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 14 * 512, image.end()), two);
    EXPECT_EQ(sim::block_flushes(fw, disk), 1u);
    std::vector<uint8_t> block(512, 1);
    EXPECT_EQ(write_blocks(sim::block_handle(fw, ro), 0, block.data(), 512), kErrWriteProtected);
    EXPECT_EQ(sim::block_writes(fw, ro), 0u);
}

TEST_F(BlockTest, MissingMediaAndNonBlockHandles) {
    uint8_t* data = nullptr;
    uint64_t length = 0;
    uint32_t block_size = 0;
    efi::Handle h = sim::block_handle(fw, nomedia);
    EXPECT_EQ(read_blocks(h, 0, 1, &data, &length, &block_size), kErrNoMedia);
    std::vector<uint8_t> block(512);
    EXPECT_EQ(write_blocks(h, 0, block.data(), 512), kErrNoMedia);
    EXPECT_EQ(read_blocks(fw.image_handle(), 0, 1, &data, &length, &block_size), kErrNotSupported);
    EXPECT_EQ(read_blocks(nullptr, 0, 1, &data, &length, &block_size), kErrInvalidParameter);
}

TEST_F(FsTest, HandleNumbersAreAppendOnly) {
    add(1);
    efi::Handle image = fw.image_handle();
    uint64_t n_image = handle_number(image);
    ASSERT_NE(n_image, 0u);
    EXPECT_EQ(handle_of_number(n_image), image);
    uint64_t count = handle_table_count();
    // A handle made later gets the next number; older numbers stay.
    sim::BlockLayout setup;
    sim::BlockId later = sim::add_block_device(fw, setup);
    efi::Handle h = sim::block_handle(fw, later);
    uint64_t n_later = handle_number(h);
    EXPECT_EQ(n_later, count + 1);
    EXPECT_EQ(handle_number(image), n_image);
    EXPECT_TRUE(handle_has_protocols(h));
    // A handle that loses its protocols keeps its slot but is no longer valid to type.
    fw.handles().uninstall(h, efi::kBlockIoProtocolGuid,
                           fw.handles().find(h, efi::kBlockIoProtocolGuid));
    fw.handles().uninstall(h, efi::kDevicePathProtocolGuid,
                           fw.handles().find(h, efi::kDevicePathProtocolGuid));
    EXPECT_FALSE(handle_has_protocols(h));
    EXPECT_EQ(handle_of_number(n_later), h);
    char text[32];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(n_later));
    EXPECT_EQ(parse_handle_number(text), nullptr);
    EXPECT_EQ(handle_number(nullptr), 0u);
    EXPECT_EQ(handle_of_number(0), nullptr);
    EXPECT_EQ(handle_of_number(handle_table_count() + 1), nullptr);
    EXPECT_EQ(handle_number(reinterpret_cast<efi::Handle>(0x1234)), 0u);
    EXPECT_EQ(parse_handle_number("12g"), nullptr);
    EXPECT_EQ(parse_handle_number("0x"), nullptr);
}

}  // namespace

TEST_F(BlockTest, BlockMediaReportsEachDevice) {
    struct Case {
        efi::Handle handle;
        bool present, removable, read_only;
        uint64_t bytes;
    };
    const Case cases[] = {
        {sim::block_handle(fw, disk), true, false, false, 16 * 512},
        {sim::block_handle(fw, ro), true, false, true, 16 * 512},
        {sim::block_handle(fw, nomedia), false, true, false, 16 * 512},
    };
    for (const Case& c : cases) {
        BlockMedia m;
        ASSERT_EQ(block_media(c.handle, &m), kOk);
        EXPECT_EQ(m.present, c.present);
        EXPECT_EQ(m.removable, c.removable);
        EXPECT_EQ(m.read_only, c.read_only);
        EXPECT_FALSE(m.logical_partition);
        EXPECT_EQ(m.block_size, 512u);
        EXPECT_EQ(m.bytes, c.bytes);
    }
    // A handle without Block I/O (the image) and no handle at all: an error, zeroed media.
    for (efi::Handle h : {fw.image_handle(), static_cast<efi::Handle>(nullptr)}) {
        BlockMedia m;
        m.present = true;
        m.bytes = 1;
        EXPECT_NE(block_media(h, &m), kOk);
        EXPECT_FALSE(m.present);
        EXPECT_EQ(m.bytes, 0u);
    }
}
