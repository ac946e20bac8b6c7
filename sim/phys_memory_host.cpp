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
    std::unique_ptr<uint8_t[]> bytes;
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
    b.bytes.reset(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(b.bytes.get(), bytes.data(), bytes.size());
    b.address = address ? address : reinterpret_cast<uint64_t>(b.bytes.get());
    uint64_t at = b.address;
    fw.module_state<PhysicalMemory>().blobs.push_back(std::move(b));
    return at;
}

std::string physical_blob(SimFirmware& fw, uint64_t address) {
    for (Blob& b : fw.module_state<PhysicalMemory>().blobs)
        if (b.address == address) return std::string(reinterpret_cast<char*>(b.bytes.get()), b.size);
    return {};
}

}  // namespace sim

namespace tarn {

bool read_physical(uint64_t address, void* out, uint64_t size) {
    if (size == 0) return true;
    if (address + size - 1 < address) return false;
    sim::Blob* b = sim::find(address, size);
    if (!b) return false;
    std::memcpy(out, b->bytes.get() + (address - b->address), size);
    return true;
}

bool read_physical_register(uint64_t address, int width, uint64_t* value) {
    if ((width != 1 && width != 2 && width != 4 && width != 8) || address % width != 0) return false;
    sim::Blob* b = sim::find(address, width);
    if (!b) return false;
    uint64_t v = 0;
    std::memcpy(&v, b->bytes.get() + (address - b->address), width);
    *value = v;
    return true;
}

bool write_physical_register(uint64_t address, int width, uint64_t value) {
    if ((width != 1 && width != 2 && width != 4 && width != 8) || address % width != 0) return false;
    sim::Blob* b = sim::find(address, width);
    if (!b) return false;
    std::memcpy(b->bytes.get() + (address - b->address), &value, width);
    return true;
}

}  // namespace tarn
