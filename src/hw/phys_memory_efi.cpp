// Physical memory on the firmware: identity-mapped, read and written directly.
#include "hw/phys_memory.h"

namespace tarn {

bool read_physical(uint64_t address, void* out, uint64_t size) {
    if (size == 0) return true;
    if (address + size - 1 < address) return false;
    const volatile uint8_t* from = reinterpret_cast<const volatile uint8_t*>(address);
    uint8_t* to = static_cast<uint8_t*>(out);
    for (uint64_t i = 0; i < size; i++) to[i] = from[i];
    return true;
}

bool read_physical_register(uint64_t address, int width, uint64_t* value) {
    if ((width != 1 && width != 2 && width != 4 && width != 8) || address % width != 0) return false;
    switch (width) {
    case 1: *value = *reinterpret_cast<const volatile uint8_t*>(address); break;
    case 2: *value = *reinterpret_cast<const volatile uint16_t*>(address); break;
    case 4: *value = *reinterpret_cast<const volatile uint32_t*>(address); break;
    default: *value = *reinterpret_cast<const volatile uint64_t*>(address); break;
    }
    return true;
}

bool write_physical_register(uint64_t address, int width, uint64_t value) {
    if ((width != 1 && width != 2 && width != 4 && width != 8) || address % width != 0) return false;
    switch (width) {
    case 1: *reinterpret_cast<volatile uint8_t*>(address) = static_cast<uint8_t>(value); break;
    case 2: *reinterpret_cast<volatile uint16_t*>(address) = static_cast<uint16_t>(value); break;
    case 4: *reinterpret_cast<volatile uint32_t*>(address) = static_cast<uint32_t>(value); break;
    default: *reinterpret_cast<volatile uint64_t*>(address) = value; break;
    }
    return true;
}

}  // namespace tarn
