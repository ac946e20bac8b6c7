#include "vars/setvar_data.h"

#include "runtime/memory.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/protocols.h"
#include "vars/variable_text.h"

namespace tarn {
namespace {

constexpr uint64_t kMaxDevicePathBytes = 0x10000;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 0x followed by 1 to 16 digits: the number in the smallest of 1, 2, 4, 8 bytes that
// holds that many digits.
bool append_number(StringBuffer& value, const char* digits) {
    const uint64_t n = strlen(digits);
    if (n == 0 || n > 16) return false;
    uint64_t number = 0;
    for (uint64_t i = 0; i < n; i++) {
        const int d = hex_digit(digits[i]);
        if (d < 0) return false;
        number = number << 4 | static_cast<uint64_t>(d);
    }
    const uint64_t bytes = n <= 2 ? 1 : n <= 4 ? 2 : n <= 8 ? 4 : 8;
    for (uint64_t i = 0; i < bytes; i++) append_char(value, static_cast<char>(number >> (8 * i)));
    return true;
}

bool append_hex_pairs(StringBuffer& value, const char* text) {
    uint8_t* bytes = nullptr;
    uint64_t size = 0;
    if (!decode_hex(text, strlen(text), &bytes, &size)) return false;
    Owned<uint8_t> owned(bytes);
    append_bytes(value, bytes, size);
    return true;
}

bool quoted(const char* text, uint64_t length) {
    return length >= 2 && text[0] == '"' && text[length - 1] == '"';
}

}  // namespace

bool append_data_item(StringBuffer& value, const char* item, const DataItemHooks& hooks) {
    const uint64_t length = strlen(item);
    if (length == 0) return true;
    if (quoted(item, length)) {
        append_bytes(value, item + 1, length - 2);
        return true;
    }
    if ((item[0] == 'L' || item[0] == 'l') && quoted(item + 1, length - 1)) {
        uint64_t units = 0;
        Owned<char16_t> text(utf8_to_ucs2_n(item + 2, length - 3, &units));
        append_bytes(value, text.get(), (units + 1) * 2);
        return true;
    }
    if (item[0] == '-' && item[1] == '-')
        return length > 2 && hooks.device_path && hooks.device_path(value, item + 2);
    if (item[0] == '0' && (item[1] == 'x' || item[1] == 'X')) return append_number(value, item + 2);
    return append_hex_pairs(value, item);
}

uint64_t device_path_bytes(const efi::DevicePath* path) {
    const auto* p = reinterpret_cast<const uint8_t*>(path);
    uint64_t total = 0;
    while (total + 4 <= kMaxDevicePathBytes) {
        const uint8_t* node = p + total;
        const uint64_t length = static_cast<uint64_t>(node[2]) | static_cast<uint64_t>(node[3]) << 8;
        if (length < 4 || total + length > kMaxDevicePathBytes) return 0;
        total += length;
        if (node[0] == efi::kEndDevicePath && node[1] == efi::kEndEntireSubType) return total;
    }
    return 0;
}

}  // namespace tarn
