// The name a PE/COFF image carries in its debug directory: the file name, without folder
// and extension, of the CodeView record's program database path.
#pragma once
#include "uefi/base.h"

namespace tarn {

// Reads the name from an image as loaded in memory (section data at its RVA), looking
// at nothing outside the size bytes at image. The headers, the debug directory, each
// CodeView record and its NUL-terminated path must lie inside the image. False when no
// CodeView entry gives a non-empty name; out (at least 2 bytes) then holds "".
// Longer names are cut to out_size - 1 bytes.
bool pe_debug_name(const uint8_t* image, uint64_t size, char* out, uint64_t out_size);

// Whether a file starts with the headers of a PE image: "MZ", a "PE\0\0" signature
// inside the file and a PE32 or PE32+ optional header magic. A file without them is
// corrupt whatever else a loader says about it.
bool pe_headers_present(const uint8_t* file, uint64_t size);

}  // namespace tarn
