// Bytes of load options as the boot tests assemble them by hand (not with the shell's code).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "uefi/guids.h"

namespace tarn_test {

using Bytes = std::vector<uint8_t>;
inline const tarn::efi::Guid& kGlobal = tarn::efi::kGlobalVariableGuid;

inline void put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

// ASCII text as UCS-2 with its terminating NUL.
inline Bytes ucs2(const std::string& s) {
    Bytes b;
    for (unsigned char c : s) put16(b, c);
    put16(b, 0);
    return b;
}

}  // namespace tarn_test
