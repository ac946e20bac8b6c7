#include "phys_memory_host.h"

#include <cstring>

#include "hw/phys_memory.h"

namespace tarn {

namespace host_memory {
namespace {
Finder g_finder = nullptr;
}  // namespace

void attach_memory(Finder finder) { g_finder = finder; }
}  // namespace host_memory

namespace {

uint8_t* find(uint64_t address, uint64_t size) {
    return host_memory::g_finder ? host_memory::g_finder(address, size) : nullptr;
}

bool register_width(uint64_t address, int width) {
    return (width == 1 || width == 2 || width == 4 || width == 8) && address % width == 0;
}

}  // namespace

bool read_physical(uint64_t address, void* out, uint64_t size) {
    if (size == 0) return true;
    if (address + size - 1 < address) return false;
    uint8_t* bytes = find(address, size);
    if (!bytes) return false;
    std::memcpy(out, bytes, size);
    return true;
}

bool read_physical_register(uint64_t address, int width, uint64_t* value) {
    if (!register_width(address, width)) return false;
    uint8_t* bytes = find(address, width);
    if (!bytes) return false;
    uint64_t v = 0;
    std::memcpy(&v, bytes, width);
    *value = v;
    return true;
}

bool write_physical_register(uint64_t address, int width, uint64_t value) {
    if (!register_width(address, width)) return false;
    uint8_t* bytes = find(address, width);
    if (!bytes) return false;
    std::memcpy(bytes, &value, width);
    return true;
}

}  // namespace tarn
