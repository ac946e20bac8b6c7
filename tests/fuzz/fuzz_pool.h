// A pool for fuzz targets that allocate: boot services whose pool calls go to the host
// heap, so the sanitizers watch every block. Installed once, before the first input.
#pragma once
#include <cstdlib>

#include "runtime/firmware.h"

namespace fuzz {

inline long g_outstanding = 0;

EFIAPI inline tarn::efi::Status pool_allocate(uint32_t, uint64_t size, void** buffer) {
    *buffer = malloc(size);
    if (!*buffer) return tarn::efi::kOutOfResources;
    g_outstanding++;
    return tarn::efi::kSuccess;
}

EFIAPI inline tarn::efi::Status pool_free(void* buffer) {
    free(buffer);
    g_outstanding--;
    return tarn::efi::kSuccess;
}

inline void install_pool() {
    static tarn::efi::BootServices boot{};
    boot.allocate_pool = pool_allocate;
    boot.free_pool = pool_free;
    tarn::firmware().boot = &boot;
}

// Blocks not yet released.
inline long outstanding() { return g_outstanding; }

}  // namespace fuzz
