#include "platform/memory_map.h"

#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {
namespace {

constexpr int kMaxAttempts = 8;
constexpr uint64_t kSpareDescriptors = 8;
constexpr uint64_t kMaxMapBytes = 64ull << 20;

const char* const kTypeNames[kMemoryTypeSlots] = {
    "Reserved",     "LoaderCode",  "LoaderData",   "BootServicesCode", "BootServicesData",
    "RuntimeCode",  "RuntimeData", "Conventional", "Unusable",         "ACPIReclaim",
    "ACPINVS",      "MMIO",        "MMIOPortSpace", "PalCode",         "Persistent",
    "Unaccepted",   "Other",
};

bool counts_as_total(uint32_t slot) {
    return slot != efi::kReservedMemoryType && slot != efi::kMemoryMappedIo &&
           slot != efi::kMemoryMappedIoPortSpace;
}

bool counts_as_available(uint32_t slot) {
    switch (slot) {
    case efi::kLoaderCode:
    case efi::kLoaderData:
    case efi::kBootServicesCode:
    case efi::kBootServicesData:
    case efi::kConventionalMemory:
        return true;
    default:
        return false;
    }
}

}  // namespace

MemoryMap::~MemoryMap() { release(bytes); }

efi::MemoryDescriptor MemoryMap::at(uint64_t index) const {
    efi::MemoryDescriptor d;
    memcpy(&d, bytes + index * stride, sizeof d);
    return d;
}

bool read_memory_map(MemoryMap* out) {
    efi::BootServices* bs = boot_services();
    if (!bs || !bs->get_memory_map) return false;
    uint64_t size = 0, key = 0, stride = 0;
    uint32_t version = 0;
    uint8_t* buffer = nullptr;
    efi::Status status = bs->get_memory_map(&size, nullptr, &key, &stride, &version);
    for (int attempt = 0; attempt < kMaxAttempts && status == efi::kBufferTooSmall; attempt++) {
        release(buffer);
        buffer = nullptr;
        if (stride < sizeof(efi::MemoryDescriptor) || stride > 4096 || size > kMaxMapBytes) return false;
        size += kSpareDescriptors * stride;
        buffer = static_cast<uint8_t*>(allocate(size));
        if (!buffer) return false;
        status = bs->get_memory_map(&size, reinterpret_cast<efi::MemoryDescriptor*>(buffer), &key,
                                    &stride, &version);
    }
    if (status != efi::kSuccess || !buffer || stride < sizeof(efi::MemoryDescriptor)) {
        release(buffer);
        return false;
    }
    release(out->bytes);
    out->bytes = buffer;
    out->stride = stride;
    out->count = size / stride;
    return true;
}

uint32_t memory_type_slot(uint32_t type) { return type < kOtherMemoryType ? type : kOtherMemoryType; }

const char* memory_type_name(uint32_t slot) {
    return kTypeNames[slot < kMemoryTypeSlots ? slot : kOtherMemoryType];
}

void total_memory_map(const MemoryMap& map, MemoryTotals* out) {
    *out = MemoryTotals();
    for (uint64_t i = 0; i < map.count; i++) {
        const efi::MemoryDescriptor d = map.at(i);
        const uint32_t slot = memory_type_slot(d.type);
        out->pages[slot] += d.number_of_pages;
        if (counts_as_total(slot)) out->total_pages += d.number_of_pages;
        if (counts_as_available(slot)) out->available_pages += d.number_of_pages;
    }
}

}  // namespace tarn
