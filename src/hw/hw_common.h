// Helpers shared by the hardware commands: hexadecimal arguments, the hex dump line and
// GUID text.
#pragma once
#include "runtime/strings.h"  // parse_hex
#include <stdint.h>

namespace tarn {

// The hex dump of size bytes, each line labelled base + offset. False when Ctrl-C stopped it.
bool hex_dump(const uint8_t* bytes, uint64_t size, uint64_t base);
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" from the 16 bytes of a GUID (37 bytes with NUL).
void guid_text(const uint8_t guid[16], char out[37]);

}  // namespace tarn
