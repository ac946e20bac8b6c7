// UTF-8 and UTF-16 conversions for the simulated firmware's own use (names of files and
// variables kept as host strings).
#pragma once
#include <string>

namespace sim {

// Malformed bytes and code points above U+FFFF become U+FFFD.
std::u16string to_u16(const std::string& text);
std::string from_u16(const std::u16string& text);

}  // namespace sim
