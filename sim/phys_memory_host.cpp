// Host physical memory: lookups in the blobs the tests registered.
#include "phys_memory.h"

#include <cstring>
#include <memory>
#include <vector>

#include "phys_memory_host.h"
#include "sim.h"

namespace sim {
namespace {

struct Blob {
    uint64_t address;
    uint64_t size;
    uint8_t* data;
    std::unique_ptr<uint8_t[]> owned;
};

struct PhysicalMemory {
    std::vector<Blob> blobs;
};

// The blob holding [address, address + size), or null.
Blob* find(uint64_t address, uint64_t size) {
    SimFirmware* fw = SimFirmware::current();
    if (!fw) return nullptr;
    for (Blob& b : fw->module_state<PhysicalMemory>().blobs)
        if (address >= b.address && size <= b.size && address - b.address <= b.size - size) return &b;
    return nullptr;
}

uint8_t* blob_bytes(uint64_t address, uint64_t size) {
    Blob* b = find(address, size);
    return b ? b->data + (address - b->address) : nullptr;
}

}  // namespace

uint64_t add_physical_blob(SimFirmware& fw, const std::string& bytes, uint64_t address) {
    Blob b;
    b.size = bytes.size();
    b.owned.reset(new uint8_t[bytes.size() ? bytes.size() : 1]);
    b.data = b.owned.get();
    if (!bytes.empty()) std::memcpy(b.data, bytes.data(), bytes.size());
    b.address = address ? address : reinterpret_cast<uint64_t>(b.data);
    uint64_t at = b.address;
    fw.module_state<PhysicalMemory>().blobs.push_back(std::move(b));
    tarn::host_memory::attach_memory(blob_bytes);
    return at;
}

void add_physical_blob_view(SimFirmware& fw, const void* bytes, uint64_t size) {
    Blob b;
    b.size = size;
    b.data = static_cast<uint8_t*>(const_cast<void*>(bytes));
    b.address = reinterpret_cast<uint64_t>(bytes);
    fw.module_state<PhysicalMemory>().blobs.push_back(std::move(b));
    tarn::host_memory::attach_memory(blob_bytes);
}

void clear_physical_blobs(SimFirmware& fw) { fw.module_state<PhysicalMemory>().blobs.clear(); }

std::string physical_blob(SimFirmware& fw, uint64_t address) {
    for (Blob& b : fw.module_state<PhysicalMemory>().blobs)
        if (b.address == address) return std::string(reinterpret_cast<char*>(b.data), b.size);
    return {};
}

}  // namespace sim
