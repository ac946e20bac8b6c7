#include "vars/variable_text.h"

#include "runtime/errors.h"
#include "runtime/exit.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/guids.h"
#include "uefi/tables.h"
#include "vars/variable_access.h"

namespace tarn {
namespace {

struct GuidName {
    const char* name;
    efi::Guid guid;
};

constexpr GuidName kGuidNames[] = {
    {"global", efi::kGlobalVariableGuid},
    {"security", {0xd719b2cb, 0x3d3a, 0x4596, {0xa3, 0xbc, 0xda, 0xd0, 0x0e, 0x67, 0x65, 0x6f}}},
    {"shim", {0x605dab50, 0xe046, 0x4300, {0xab, 0xb6, 0x3d, 0xd8, 0x10, 0xdd, 0x8b, 0x23}}},
    {"shell", efi::kShellVariableGuid},
    {"systemd", {0x4a67b082, 0x0a4c, 0x41cf, {0xb6, 0xc7, 0x44, 0x0b, 0x29, 0xbb, 0x8c, 0x4f}}},
};

bool same_guid(const efi::Guid& a, const efi::Guid& b) { return memcmp(&a, &b, sizeof a) == 0; }

int hex_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

bool name_needs_escape(unsigned char c) { return c <= 0x20 || c == 0x7f || c == '%'; }

// The NAME field of a backup line with its %XX escapes undone; null when an escape is
// broken or names a NUL.
char* unescape_name(const char* text, uint64_t length) {
    StringBuffer out;
    init(out);
    for (uint64_t i = 0; i < length; i++) {
        if (text[i] != '%') {
            append_char(out, text[i]);
            continue;
        }
        const int hi = i + 1 < length ? hex_value(text[i + 1]) : -1;
        const int lo = i + 2 < length ? hex_value(text[i + 2]) : -1;
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return nullptr;
        append_char(out, static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return take(out);
}

// The four fields of one backup line; false when it is malformed.
bool load_line(const char* line, uint64_t length, bool verbose, bool* failed) {
    const char* space[3];
    int found = 0;
    for (uint64_t i = 0; i < length && found < 3; i++)
        if (line[i] == ' ') space[found++] = line + i;
    if (found < 3) return false;
    const char* end = line + length;
    Owned<char> guid_text(xstrndup(line, static_cast<uint64_t>(space[0] - line)));
    efi::Guid guid;
    if (!parse_guid(guid_text.get(), &guid)) return false;
    uint64_t attributes = 0;
    for (const char* p = space[0] + 1; p < space[1]; p++) {
        const int v = hex_value(*p);
        if (v < 0 || attributes > 0x0fffffff) return false;
        attributes = attributes * 16 + static_cast<uint64_t>(v);
    }
    const uint64_t name_length = static_cast<uint64_t>(space[2] - space[1] - 1);
    if (name_length == 0) return false;
    Owned<char> name(unescape_name(space[1] + 1, name_length));
    if (!name || !name[0]) return false;
    uint8_t* raw = nullptr;
    uint64_t size = 0;
    if (!decode_hex(space[2] + 1, static_cast<uint64_t>(end - space[2] - 1), &raw, &size))
        return false;
    Owned<uint8_t> data(raw);
    const efi::Status status =
        write_variable(name.get(), guid, static_cast<uint32_t>(attributes), size, data.get());
    if (efi::is_error(status)) {
        print_error("var: cannot write %s: %s\n", name.get(), status_message(status));
        *failed = true;
    } else if (verbose) {
        out_printf("restored %s\n", name.get());
    }
    return true;
}

}  // namespace

bool parse_guid(const char* text, efi::Guid* out) {
    if (!text) return false;
    for (const GuidName& row : kGuidNames) {
        if (equal_nocase(text, row.name)) {
            *out = row.guid;
            return true;
        }
    }
    if (strlen(text) != 36) return false;
    uint8_t bytes[16];
    int n = 0;
    for (int i = 0; i < 36; i++) {
        const bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash_place != (text[i] == '-')) return false;
        if (dash_place) continue;
        const int hi = hex_value(text[i]);
        const int lo = hex_value(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[n++] = static_cast<uint8_t>(hi * 16 + lo);
        i++;
    }
    out->data1 = (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
                 (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
    out->data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    out->data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; i++) out->data4[i] = bytes[8 + i];
    return true;
}

void format_guid(const efi::Guid& g, char (&out)[kGuidTextSize], bool upper) {
    const char* format = upper ? "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X"
                               : "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
    format_into(out, sizeof out, format, g.data1, g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
}

const char* guid_name(const efi::Guid& guid) {
    for (const GuidName& row : kGuidNames)
        if (same_guid(row.guid, guid)) return row.name;
    return nullptr;
}

void attributes_short(uint32_t a, char (&out)[kShortAttributesSize]) {
    format_into(out, sizeof out, "%s%s%s%s", (a & efi::kVariableNonVolatile) ? "NV" : "  ",
                (a & efi::kVariableBootserviceAccess) ? "BS" : "  ",
                (a & efi::kVariableRuntimeAccess) ? "RT" : "  ",
                (a & (efi::kVariableAuthenticatedWriteAccess |
                      efi::kVariableTimeBasedAuthenticatedWriteAccess))
                    ? "A"
                    : "");
}

void attributes_long(uint32_t a, char (&out)[kLongAttributesSize]) {
    static const char* const kNames[] = {"NV+", "BS+", "RT+", "HR+", "AW+", "AT+"};
    uint64_t n = 0;
    out[0] = 0;
    for (int bit = 0; bit < 6; bit++) {
        if (!(a & (1u << bit))) continue;
        for (const char* p = kNames[bit]; *p; p++) out[n++] = *p;
    }
    if (n) n--;  // the final '+'
    out[n] = 0;
}

char* hex_text(const uint8_t* bytes, uint64_t size) {
    uint64_t room = 0;
    if (mul_overflows(size, 2, &room) || add_overflows(room, 1, &room)) fatal("out of memory");
    char* out = static_cast<char*>(xallocate(room));
    for (uint64_t i = 0; i < size; i++) {
        out[2 * i] = kHexDigits[bytes[i] >> 4];
        out[2 * i + 1] = kHexDigits[bytes[i] & 15];
    }
    out[2 * size] = 0;
    return out;
}

bool decode_hex(const char* text, uint64_t length, uint8_t** bytes, uint64_t* size) {
    *bytes = nullptr;
    *size = 0;
    Owned<uint8_t> out(static_cast<uint8_t*>(xallocate(length / 2 + 1)));
    uint64_t n = 0;
    for (uint64_t i = 0; i < length;) {
        const char c = text[i];
        if (c == ' ' || c == '-' || c == ':') {
            i++;
            continue;
        }
        if (i + 1 >= length) return false;
        const int hi = hex_value(c);
        const int lo = hex_value(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[n++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    *bytes = out.take();
    *size = n;
    return true;
}

bool is_ucs2_text(const uint8_t* bytes, uint64_t size) {
    if (size < 2 || size % 2) return false;
    const uint64_t units = size / 2;
    for (uint64_t i = 0; i < units; i++) {
        const uint16_t u = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (u == 0) {
            if (i + 1 != units || units == 1) return false;
            continue;
        }
        if (u == 9 || u == 10 || u == 13) continue;
        if (u < 0x20 || (u >= 0xd800 && u <= 0xdfff)) return false;
    }
    return true;
}

char* value_as_string(const uint8_t* bytes, uint64_t size) {
    if (is_ucs2_text(bytes, size)) {
        // Copied so that the units are aligned whatever the caller's buffer is.
        Owned<char16_t> units(xallocate_array<char16_t>(size / 2 + 1));
        memcpy(units.get(), bytes, size);
        uint64_t n = size / 2;
        if (n && units[n - 1] == 0) n--;
        return ucs2_to_utf8(units.get(), n);
    }
    uint64_t n = 0;
    while (n < size && bytes[n]) n++;
    return xstrndup(reinterpret_cast<const char*>(bytes), n);
}

void hex_dump(const uint8_t* bytes, uint64_t size) {
    for (uint64_t offset = 0; offset < size; offset += 16) {
        char line[96];
        uint64_t n = format_into(line, sizeof line, "  %04zx  ", static_cast<size_t>(offset));
        for (uint64_t i = 0; i < 16; i++) {
            if (offset + i < size) {
                const uint8_t b = bytes[offset + i];
                line[n++] = kHexDigits[b >> 4];
                line[n++] = kHexDigits[b & 15];
                line[n++] = ' ';
            } else {
                line[n++] = ' ';
                line[n++] = ' ';
                line[n++] = ' ';
            }
        }
        line[n++] = ' ';
        line[n++] = '|';
        for (uint64_t i = 0; i < 16 && offset + i < size; i++) {
            const uint8_t b = bytes[offset + i];
            line[n++] = (b >= 0x20 && b <= 0x7e) ? static_cast<char>(b) : '.';
        }
        line[n++] = '|';
        line[n++] = '\n';
        out_write(line, n);
    }
}

void append_backup_line(StringBuffer& text, const char* name, const efi::Guid& guid,
                        uint32_t attributes, const uint8_t* data, uint64_t size) {
    char guid_text[kGuidTextSize];
    format_guid(guid, guid_text);
    append_format(text, "%s %08x ", guid_text, attributes);
    for (const char* p = name; *p; p++) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (name_needs_escape(c)) {
            append_char(text, '%');
            append_char(text, kUpperHexDigits[c >> 4]);
            append_char(text, kUpperHexDigits[c & 15]);
        } else {
            append_char(text, static_cast<char>(c));
        }
    }
    append_char(text, ' ');
    Owned<char> hex(hex_text(data, size));
    append_text(text, hex.get());
    append_char(text, '\n');
}

int load_variable_text(const char* text, uint64_t length, bool verbose) {
    int failures = 0;
    uint64_t start = 0;
    while (start < length) {
        uint64_t end = start;
        while (end < length && text[end] != '\n') end++;
        const char* line = text + start;
        const uint64_t n = end - start;
        if (n != 0 && line[0] != '#') {
            bool failed = false;
            if (!load_line(line, n, verbose, &failed)) {
                Owned<char> copy(xstrndup(line, n));
                print_error("var: malformed line: %s\n", copy.get());
                failed = true;
            }
            failures += failed;
        }
        start = end + 1;
    }
    return failures;
}

}  // namespace tarn
