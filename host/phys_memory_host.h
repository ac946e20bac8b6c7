// Host stand-ins for the physical-memory reader of hw/phys_memory.h (host build only).
// Reads and register accesses go to the memory attached by whoever simulates a machine
// (the simulated firmware's blobs); with nothing attached, no address has memory behind it.
#pragma once
#include <stdint.h>

namespace tarn::host_memory {

// The bytes that stand for [address, address + size), or null when no memory is there.
using Finder = uint8_t* (*)(uint64_t address, uint64_t size);

// The finder used from now on; null detaches it.
void attach_memory(Finder finder);

}  // namespace tarn::host_memory
