// Host physical memory: lookups in the blobs the tests registered.
#include "phys_memory.h"

#include <cstring>
#include <memory>
#include <vector>

#include "hw/phys_memory.h"
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
    return at;
}

void add_physical_blob_view(SimFirmware& fw, const void* bytes, uint64_t size) {
    Blob b;
    b.size = size;
    b.data = static_cast<uint8_t*>(const_cast<void*>(bytes));
    b.address = reinterpret_cast<uint64_t>(bytes);
    fw.module_state<PhysicalMemory>().blobs.push_back(std::move(b));
}

void clear_physical_blobs(SimFirmware& fw) { fw.module_state<PhysicalMemory>().blobs.clear(); }

std::string physical_blob(SimFirmware& fw, uint64_t address) {
    for (Blob& b : fw.module_state<PhysicalMemory>().blobs)
        if (b.address == address) return std::string(reinterpret_cast<char*>(b.data), b.size);
    return {};
}

}  // namespace sim

namespace tarn {

bool read_physical(uint64_t address, void* out, uint64_t size) {
    if (size == 0) return true;
    if (address + size - 1 < address) return false;
    sim::Blob* b = sim::find(address, size);
    if (!b) return false;
    std::memcpy(out, b->data + (address - b->address), size);
    return true;
}

bool read_physical_register(uint64_t address, int width, uint64_t* value) {
    if ((width != 1 && width != 2 && width != 4 && width != 8) || address % width != 0) return false;
    sim::Blob* b = sim::find(address, width);
    if (!b) return false;
    uint64_t v = 0;
    std::memcpy(&v, b->data + (address - b->address), width);
    *value = v;
    return true;
}

bool write_physical_register(uint64_t address, int width, uint64_t value) {
    if ((width != 1 && width != 2 && width != 4 && width != 8) || address % width != 0) return false;
    sim::Blob* b = sim::find(address, width);
    if (!b) return false;
    std::memcpy(b->data + (address - b->address), &value, width);
    return true;
}

}  // namespace tarn
