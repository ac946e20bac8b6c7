// Physical memory of the simulated machine: byte blobs registered by tests. Reads outside
// every blob fail; each blob is a heap block of exactly its size, so the sanitizers also
// catch a reader that miscounts.
#pragma once
#include <stdint.h>

#include <string>

namespace sim {

class SimFirmware;

// Places bytes at address and returns the address; with address 0 the blob sits at its
// own host address (so host pointers stored in firmware tables lead to it).
uint64_t add_physical_blob(SimFirmware& fw, const std::string& bytes, uint64_t address = 0);
// Makes host memory the caller keeps alive readable at its own address.
void add_physical_blob_view(SimFirmware& fw, const void* bytes, uint64_t size);
// Forgets every blob.
void clear_physical_blobs(SimFirmware& fw);
// The current bytes of the blob that starts at address (empty if none).
std::string physical_blob(SimFirmware& fw, uint64_t address);

}  // namespace sim
