// PCI root bridges: the firmware's PCI Root Bridge I/O protocol, the bus range of each
// instance, and configuration-space access by segment, bus, device, function, register.
#pragma once
#include "uefi/base.h"

namespace tarn {
namespace efi {

inline constexpr Guid kPciRootBridgeIoProtocolGuid = {
    0x2f707ebb, 0x4a1a, 0x11d4, {0x9a, 0x38, 0x00, 0x90, 0x27, 0x3f, 0xc1, 0x4d}};

struct PciRootBridgeIo;
// Width: 0, 1, 2, 3 for 8, 16, 32 and 64 bits.
using PciRootBridgeIoAccessFn = Status(EFIAPI*)(PciRootBridgeIo* self, uint32_t width,
                                                uint64_t address, uint64_t count, void* buffer);
struct PciRootBridgeIoAccess {
    PciRootBridgeIoAccessFn read;
    PciRootBridgeIoAccessFn write;
};

struct PciRootBridgeIo {
    Handle parent_handle;
    void* poll_mem;
    void* poll_io;
    PciRootBridgeIoAccess mem;
    PciRootBridgeIoAccess io;
    PciRootBridgeIoAccess pci;
    void* copy_mem;
    void* map;
    void* unmap;
    void* allocate_buffer;
    void* free_buffer;
    void* flush;
    void* get_attributes;
    void* set_attributes;
    Status(EFIAPI* configuration)(PciRootBridgeIo* self, void** resources);
    uint32_t segment_number;
};

}  // namespace efi

struct RootBridge {
    efi::PciRootBridgeIo* io;
    uint32_t segment;
    uint32_t bus_min;
    uint32_t bus_max;
    bool any_bus;  // no bus range in its descriptors (or none at all)
};

// The root bridges of this moment, in handle order.
class RootBridgeList {
public:
    RootBridgeList();
    ~RootBridgeList();
    RootBridgeList(const RootBridgeList&) = delete;
    RootBridgeList& operator=(const RootBridgeList&) = delete;
    uint64_t count() const { return count_; }
    const RootBridge& operator[](uint64_t i) const { return items_[i]; }
    // The first bridge with the segment whose bus range holds bus, or null.
    const RootBridge* serving(uint32_t segment, uint32_t bus) const;

private:
    RootBridge* items_ = nullptr;
    uint64_t count_ = 0;
};

// The address passed to the protocol: register below 256 in bits 0-7, else in bits 32-63.
uint64_t pci_config_address(uint32_t bus, uint32_t device, uint32_t function, uint32_t reg);
// One configuration access of width bytes (1, 2, 4 or 8).
bool pci_config_read(const RootBridge& b, uint32_t bus, uint32_t device, uint32_t function,
                     uint32_t reg, int width, uint64_t* value);
bool pci_config_write(const RootBridge& b, uint32_t bus, uint32_t device, uint32_t function,
                      uint32_t reg, int width, uint64_t value);
// size bytes of memory through the bridge's memory access, byte by byte.
bool pci_memory_read(const RootBridge& b, uint64_t address, uint64_t size, void* out);

}  // namespace tarn
