// A fixture for the file layer's tests: a simulated firmware with volumes, and checks at
// the end that every file handle was closed and every block was freed.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "drivers/handle_table.h"
#include "fs/blocks.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "fs/volumes.h"
#include "runtime/memory.h"
#include "sim.h"
#include "volumes.h"

namespace fs_test {

// A newly allocated string from the layer, taken over and freed.
inline std::string take_text(char* text) {
    if (!text) return "(null)";
    std::string s = text;
    tarn::release(text);
    return s;
}

class FsTest : public ::testing::Test {
protected:
    sim::SimFirmware fw;
    int64_t baseline = 0;

    void SetUp() override { baseline = fw.outstanding_allocations(); }

    void TearDown() override {
        EXPECT_EQ(sim::open_file_count(fw), 0) << "file handles left open";
        EXPECT_EQ(sim::file_misuse_count(fw), 0) << "calls on closed file handles";
        tarn::reset_fs_state();
        tarn::reset_handle_table();
        EXPECT_EQ(fw.outstanding_allocations(), baseline) << "pool blocks not freed";
    }

    // A volume on PciRoot(0x0)/Pci(0x<device>,0x0)/HD(1,...).
    sim::VolumeId add(uint32_t device, const std::string& label = "", bool read_only = false) {
        sim::VolumeLayout setup;
        setup.label = label;
        setup.location.pci_device = device;
        setup.read_only = read_only;
        return sim::add_volume(fw, setup);
    }

    std::string resolve(const char* text) { return take_text(tarn::resolve_path(text)); }
};

}  // namespace fs_test
