// What dblk prints for the bytes of a block: the dump lines, and the GPT header, FAT boot
// sector or MBR decoded from them. Plain functions over a buffer, never reading past it.
#pragma once
#include "runtime/string_buffer.h"

namespace tarn {

// "  %08llx: " then up to 16 bytes as "%02X" with a blank after each ("-" after the 8th),
// " *", the bytes as characters ('.' outside 0x20-0x7E) and "*\n".
void format_dump_line(const uint8_t* bytes, uint64_t count, uint64_t offset, StringBuffer& out);

// The decoded lines for block `lba` of `size` bytes (nothing when no layout is known, or
// the block is shorter than 512 bytes).
void describe_block(uint64_t lba, const uint8_t* bytes, uint64_t size, StringBuffer& out);

}  // namespace tarn
