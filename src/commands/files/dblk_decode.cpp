#include "commands/files/dblk_decode.h"

#include "runtime/strings.h"

namespace tarn {

namespace {

// Little-endian fields at any alignment.
uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

bool has_text(const uint8_t* bytes, uint64_t offset, const char* text) {
    return memcmp(bytes + offset, text, strlen(text)) == 0;
}

void describe_gpt(const uint8_t* b, StringBuffer& out) {
    append_format(out,
                  "  GPT header: revision %08X, disk LBAs %llu-%llu, %u partition entries of %u bytes at LBA %llu\n",
                  le32(b + 8), static_cast<unsigned long long>(le64(b + 0x28)),
                  static_cast<unsigned long long>(le64(b + 0x30)), le32(b + 0x50), le32(b + 0x54),
                  static_cast<unsigned long long>(le64(b + 0x48)));
}

void describe_fat(const uint8_t* b, StringBuffer& out) {
    const bool fat32 = has_text(b, 0x52, "FAT");
    append_format(out,
                  "  FAT boot sector: OEM \"%.8s\", %u bytes/sector, %u sectors/cluster, %s, label \"%.11s\"\n",
                  reinterpret_cast<const char*>(b + 3), le16(b + 0x0B), b[0x0D], fat32 ? "FAT32" : "FAT12/16",
                  reinterpret_cast<const char*>(b + (fat32 ? 0x47 : 0x2B)));
}

void describe_mbr(const uint8_t* b, StringBuffer& out) {
    append_text(out, "  MBR partition table:\n");
    for (int i = 0; i < 4; i++) {
        const uint8_t* e = b + 0x1BE + 16 * i;
        if (e[4] == 0) continue;
        const char* kind = e[4] == 0xEE ? " (GPT protective)" : e[4] == 0xEF ? " (EFI system)" : "";
        append_format(out, "    %d: type %02X%s start LBA %u, %u sectors%s\n", i + 1, e[4], kind, le32(e + 8),
                      le32(e + 12), e[0] == 0x80 ? ", active" : "");
    }
}

}  // namespace

void format_dump_line(const uint8_t* bytes, uint64_t count, uint64_t offset, StringBuffer& out) {
    append_format(out, "  %08llx: ", static_cast<unsigned long long>(offset));
    for (uint64_t i = 0; i < count; i++) append_format(out, "%02X%c", bytes[i], i == 7 ? '-' : ' ');
    append_text(out, " *");
    for (uint64_t i = 0; i < count; i++)
        append_char(out, bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.');
    append_text(out, "*\n");
}

void describe_block(uint64_t lba, const uint8_t* bytes, uint64_t size, StringBuffer& out) {
    if (size < 512) return;
    if (lba == 1 && has_text(bytes, 0, "EFI PART")) {
        describe_gpt(bytes, out);
        return;
    }
    if (bytes[510] != 0x55 || bytes[511] != 0xAA) return;
    if ((bytes[0] == 0xE9 || bytes[0] == 0xEB) && (has_text(bytes, 0x36, "FAT") || has_text(bytes, 0x52, "FAT"))) {
        describe_fat(bytes, out);
        return;
    }
    if (lba == 0) describe_mbr(bytes, out);
}

}  // namespace tarn
