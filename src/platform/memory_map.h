// The UEFI memory map: reading it, naming its types and totalling it.
#pragma once
#include "uefi/tables.h"

namespace tarn {

// The descriptors as GetMemoryMap gave them, stride bytes apart. Owns its buffer.
struct MemoryMap {
    uint8_t* bytes = nullptr;
    uint64_t count = 0;
    uint64_t stride = 0;

    MemoryMap() = default;
    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;
    ~MemoryMap();
    // A copy of descriptor index (index < count); the stride need not keep alignment.
    efi::MemoryDescriptor at(uint64_t index) const;
};

// GetMemoryMap with size 0, then with the reported size plus 8 descriptors while the
// answer is buffer-too-small (at most 8 attempts). False when no map could be read.
[[nodiscard]] bool read_memory_map(MemoryMap* out);

// Memory types 0..15 have their own names; every larger type is counted as "Other".
constexpr uint32_t kOtherMemoryType = 16;
constexpr uint32_t kMemoryTypeSlots = 17;
uint32_t memory_type_slot(uint32_t type);
const char* memory_type_name(uint32_t slot);

struct MemoryTotals {
    uint64_t pages[kMemoryTypeSlots] = {};
    uint64_t total_pages = 0;      // every type but Reserved, MMIO and MMIOPortSpace
    uint64_t available_pages = 0;  // loader, boot services and conventional memory
};
void total_memory_map(const MemoryMap& map, MemoryTotals* out);

constexpr uint64_t kPageSize = 4096;
inline uint64_t pages_to_mib(uint64_t pages) { return pages >> 8; }

}  // namespace tarn
