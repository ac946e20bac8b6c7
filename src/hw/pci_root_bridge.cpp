#include "hw/pci_root_bridge.h"

#include "hw/phys_memory.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"

namespace tarn {
namespace {

constexpr uint8_t kQwordDescriptor = 0x8a;
constexpr uint8_t kEndTag = 0x79;
constexpr uint8_t kBusRange = 2;
constexpr int kMaxDescriptors = 256;

// Reads the bus range from the QWORD descriptors the bridge reports.
void read_bus_range(RootBridge* b) {
    b->any_bus = true;
    b->bus_min = 0;
    b->bus_max = 255;
    void* resources = nullptr;
    if (!b->io->configuration || b->io->configuration(b->io, &resources) != efi::kSuccess || !resources)
        return;
    uint64_t at = reinterpret_cast<uintptr_t>(resources);
    for (int i = 0; i < kMaxDescriptors; i++) {
        uint8_t head[3];
        if (!read_physical(at, head, 1) || head[0] == kEndTag || head[0] != kQwordDescriptor) return;
        if (!read_physical(at, head, 3)) return;
        uint64_t length = 3 + (head[1] | (head[2] << 8));
        uint8_t d[46];
        if (length < 30 || length > sizeof(d) || !read_physical(at, d, length)) return;
        if (d[3] == kBusRange && b->any_bus) {
            uint64_t lo = load_le(d, length, 14, 8), hi = load_le(d, length, 22, 8);
            b->any_bus = false;
            b->bus_min = lo > 255 ? 256 : static_cast<uint32_t>(lo);
            b->bus_max = hi > 255 ? 255 : static_cast<uint32_t>(hi);
        }
        at += length;
    }
}

uint32_t width_code(int width) { return width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3; }
bool good_width(int width) { return width == 1 || width == 2 || width == 4 || width == 8; }

}  // namespace

RootBridgeList::RootBridgeList() {
    efi::BootServices* bs = boot_services();
    if (!bs) return;
    uint64_t n = 0;
    efi::Handle* handles = nullptr;
    if (bs->locate_handle_buffer(efi::kByProtocol, &efi::kPciRootBridgeIoProtocolGuid, nullptr, &n,
                                 &handles) != efi::kSuccess || !handles)
        return;
    items_ = xallocate_array<RootBridge>(n ? n : 1);
    for (uint64_t i = 0; i < n; i++) {
        void* iface = nullptr;
        if (bs->handle_protocol(handles[i], &efi::kPciRootBridgeIoProtocolGuid, &iface) != efi::kSuccess ||
            !iface)
            continue;
        RootBridge& b = items_[count_];
        b.io = static_cast<efi::PciRootBridgeIo*>(iface);
        b.segment = b.io->segment_number;
        read_bus_range(&b);
        count_++;
    }
    bs->free_pool(handles);
}

RootBridgeList::~RootBridgeList() { release(items_); }

const RootBridge* RootBridgeList::serving(uint32_t segment, uint32_t bus) const {
    for (uint64_t i = 0; i < count_; i++) {
        const RootBridge& b = items_[i];
        if (b.segment == segment && (b.any_bus || (bus >= b.bus_min && bus <= b.bus_max))) return &b;
    }
    return nullptr;
}

uint64_t pci_config_address(uint32_t bus, uint32_t device, uint32_t function, uint32_t reg) {
    uint64_t a = (static_cast<uint64_t>(bus & 0xff) << 24) | ((device & 0xff) << 16) | ((function & 0xff) << 8);
    if (reg < 256) return a | reg;
    return a | (static_cast<uint64_t>(reg) << 32);
}

bool pci_config_read(const RootBridge& b, uint32_t bus, uint32_t device, uint32_t function,
                     uint32_t reg, int width, uint64_t* value) {
    if (!good_width(width) || !b.io->pci.read) return false;
    uint64_t v = 0;
    if (b.io->pci.read(b.io, width_code(width), pci_config_address(bus, device, function, reg), 1, &v) !=
        efi::kSuccess)
        return false;
    *value = width == 8 ? v : v & ((1ull << (8 * width)) - 1);
    return true;
}

bool pci_config_write(const RootBridge& b, uint32_t bus, uint32_t device, uint32_t function,
                      uint32_t reg, int width, uint64_t value) {
    if (!good_width(width) || !b.io->pci.write) return false;
    uint64_t v = value;
    return b.io->pci.write(b.io, width_code(width), pci_config_address(bus, device, function, reg), 1,
                           &v) == efi::kSuccess;
}

bool pci_memory_read(const RootBridge& b, uint64_t address, uint64_t size, void* out) {
    if (!b.io->mem.read) return false;
    if (size && address + size - 1 < address) return false;
    return b.io->mem.read(b.io, 0, address, size, out) == efi::kSuccess;
}

}  // namespace tarn
