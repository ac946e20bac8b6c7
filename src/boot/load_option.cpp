#include "boot/load_option.h"

#include "drivers/handle_table.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "uefi/guids.h"
#include "uefi/protocols.h"
#include "vars/variable_access.h"

namespace tarn {

void LoadOption::clear() {
    release(description);
    release(raw);
    attributes = 0;
    description = nullptr;
    device_path = optional_data = raw = nullptr;
    device_path_length = optional_length = raw_size = 0;
}

namespace {

uint16_t u16_at(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void put_u16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The UCS-2 units of bytes (any alignment) as new UTF-8.
char* ucs2_bytes_to_utf8(const uint8_t* bytes, uint64_t units) {
    Owned<char16_t> copy(xallocate_array<char16_t>(units + 1));
    for (uint64_t i = 0; i < units; i++) copy[i] = static_cast<char16_t>(u16_at(bytes + 2 * i));
    return ucs2_to_utf8(copy.get(), units);
}

void mark_malformed(LoadOption* option) {
    option->clear();
    option->description = xstrdup(kInvalidLoadOption);
}

// Whether the list of length L ends with an End Entire node exactly at L, every node at
// least 4 bytes and inside the list.
bool path_list_well_formed(const uint8_t* list, uint64_t length) {
    uint64_t at = 0;
    while (length - at >= 4) {
        const uint64_t node = u16_at(list + at + 2);
        if (node < 4 || node > length - at) return false;
        if (list[at] == efi::kEndDevicePath && list[at + 1] == efi::kEndEntireSubType)
            return at + node == length;
        at += node;
    }
    return false;
}

}  // namespace

bool parse_load_option(const uint8_t* bytes, uint64_t size, LoadOption* option) {
    option->clear();
    if (!bytes || size < 8) return mark_malformed(option), false;
    uint64_t end = 0;
    bool terminated = false;
    for (uint64_t at = 6; at + 1 < size; at += 2) {
        if (bytes[at] == 0 && bytes[at + 1] == 0) {
            end = at;
            terminated = true;
            break;
        }
    }
    if (!terminated) return mark_malformed(option), false;
    const uint64_t list_length = u16_at(bytes + 4);
    const uint64_t list_start = end + 2;
    if (list_length < 4 || list_start + list_length > size) return mark_malformed(option), false;
    if (!path_list_well_formed(bytes + list_start, list_length))
        return mark_malformed(option), false;

    option->raw = static_cast<uint8_t*>(xallocate(size));
    memcpy(option->raw, bytes, size);
    option->raw_size = size;
    option->attributes = static_cast<uint32_t>(u16_at(bytes) | (u16_at(bytes + 2) << 16));
    option->description = ucs2_bytes_to_utf8(bytes + 6, (end - 6) / 2);
    option->device_path = option->raw + list_start;
    option->device_path_length = list_length;
    option->optional_data = option->raw + list_start + list_length;
    option->optional_length = size - (list_start + list_length);
    return true;
}

uint8_t* build_load_option(uint32_t attributes, const char* description, const uint8_t* path,
                           uint64_t path_length, const uint8_t* optional, uint64_t optional_length,
                           uint64_t* size) {
    uint64_t units = 0;
    Owned<char16_t> text(utf8_to_ucs2(description ? description : "", &units));
    const uint64_t total = 8 + 2 * units + path_length + optional_length;
    uint8_t* out = static_cast<uint8_t*>(xallocate(total));
    put_u32(out, attributes);
    put_u16(out + 4, static_cast<uint32_t>(path_length));
    uint8_t* p = out + 6;
    for (uint64_t i = 0; i < units; i++, p += 2) put_u16(p, text[i]);
    put_u16(p, 0);
    p += 2;
    if (path_length) memcpy(p, path, path_length);
    p += path_length;
    if (optional_length) memcpy(p, optional, optional_length);
    *size = total;
    return out;
}

uint8_t* rebuild_load_option(const LoadOption& o, uint32_t attributes, const char* description,
                             uint64_t* size) {
    return build_load_option(attributes, description ? description : o.description,
                             o.device_path, o.device_path_length, o.optional_data,
                             o.optional_length, size);
}

char* format_optional_data(const uint8_t* data, uint64_t length) {
    if (length == 0) return xstrdup("");
    char binary[64];
    format_into(binary, sizeof binary, "<%llu bytes of binary data>",
                static_cast<unsigned long long>(length));
    if (length % 2) return xstrdup(binary);
    const uint64_t units = length / 2;
    uint64_t shown = units;
    for (uint64_t i = 0; i < units; i++) {
        const uint16_t u = u16_at(data + 2 * i);
        if (u == 0 && i + 1 == units) {
            shown = i;
            break;
        }
        if (!((u >= 0x20 && u <= 0x7e) || (u >= 0xa0 && u <= 0x24f))) return xstrdup(binary);
    }
    return ucs2_bytes_to_utf8(data, shown);
}

uint8_t* text_optional_data(const char* text, uint64_t* size) {
    uint64_t units = 0;
    Owned<char16_t> ucs2(utf8_to_ucs2(text, &units));
    uint8_t* out = static_cast<uint8_t*>(xallocate(2 * units + 2));
    for (uint64_t i = 0; i <= units; i++) put_u16(out + 2 * i, i < units ? ucs2[i] : 0);
    *size = 2 * units + 2;
    return out;
}

void format_order(const uint32_t* numbers, uint64_t count, StringBuffer& out) {
    if (count == 0) return append_text(out, "(empty)");
    for (uint64_t i = 0; i < count; i++) append_format(out, i ? ",%04X" : "%04X", numbers[i]);
}

bool parse_option_id(const char* text, uint32_t* number) {
    if (!text) return false;
    if (text[0] == 'b' || text[0] == 'B') {
        if (compare_nocase_n(text, "boot", 4) == 0) text += 4;
    } else if (compare_nocase_n(text, "driver", 6) == 0) {
        text += 6;
    }
    uint32_t value = 0;
    int digits = 0;
    for (; *text; text++, digits++) {
        if (!is_xdigit(*text) || digits == 4) return false;
        const int c = to_lower(*text);
        value = value * 16 + static_cast<uint32_t>(is_digit(c) ? c - '0' : c - 'a' + 10);
    }
    if (digits == 0) return false;
    *number = value;
    return true;
}

bool option_name_number(const char* name, const char* prefix, uint32_t* number) {
    const uint64_t n = strlen(prefix);
    if (strlen(name) != n + 4 || strncmp(name, prefix, n) != 0) return false;
    uint32_t value = 0;
    for (uint64_t i = n; i < n + 4; i++) {
        const char c = name[i];
        if (is_digit(c)) value = value * 16 + static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F') value = value * 16 + static_cast<uint32_t>(c - 'A' + 10);
        else return false;
    }
    *number = value;
    return true;
}

void option_name(const char* prefix, uint32_t number, char (&out)[kOptionNameSize]) {
    format_into(out, sizeof out, "%s%04X", prefix, number & 0xffff);
}

// ---- the variables

bool read_u16_variable(const char* name, uint32_t* value) {
    VariableData v;
    if (efi::is_error(read_variable(name, efi::kGlobalVariableGuid, &v)) || v.size < 2)
        return false;
    *value = u16_at(v.bytes);
    return true;
}

void read_order(const char* name, Vector<uint32_t>& out) {
    out.clear();
    VariableData v;
    if (efi::is_error(read_variable(name, efi::kGlobalVariableGuid, &v))) return;
    for (uint64_t i = 0; i + 1 < v.size; i += 2) out.push(u16_at(v.bytes + i));
}

namespace {

struct NumberScan {
    const char* prefix;
    Vector<uint32_t>* out;
};

bool collect_number(void* context, const char* name, const char16_t*, const efi::Guid& guid) {
    auto* scan = static_cast<NumberScan*>(context);
    uint32_t number = 0;
    if (memcmp(&guid, &efi::kGlobalVariableGuid, sizeof guid) == 0 &&
        option_name_number(name, scan->prefix, &number))
        scan->out->push(number);
    return true;
}

}  // namespace

void list_option_numbers(const char* prefix, Vector<uint32_t>& out) {
    out.clear();
    NumberScan scan{prefix, &out};
    (void)enumerate_variables(collect_number, &scan);
}

bool read_load_option(const char* prefix, uint32_t number, LoadOption* option) {
    option->clear();
    char name[kOptionNameSize];
    option_name(prefix, number, name);
    VariableData v;
    if (efi::is_error(read_variable(name, efi::kGlobalVariableGuid, &v))) return false;
    (void)parse_load_option(v.bytes, v.size, option);
    return true;
}

const char* order_name(const char* prefix) {
    if (equal(prefix, "Driver")) return "DriverOrder";
    if (equal(prefix, "SysPrep")) return "SysPrepOrder";
    return "BootOrder";
}

bool lowest_free_number(const char* prefix, const Vector<uint32_t>& order, uint32_t* number) {
    Vector<uint32_t> used;
    list_option_numbers(prefix, used);
    Owned<uint8_t> taken(static_cast<uint8_t*>(xallocate_zeroed(0x10000, 1)));
    for (uint32_t n : used) taken[n & 0xffff] = 1;
    for (uint32_t n : order) taken[n & 0xffff] = 1;
    for (uint32_t n = 0; n <= 0xffff; n++) {
        if (!taken[n]) {
            *number = n;
            return true;
        }
    }
    return false;
}

// ---- device paths

uint64_t device_path_size(const uint8_t* path, uint64_t limit) {
    if (!path) return 0;
    uint64_t at = 0;
    while (limit - at >= 4) {
        const uint64_t node = u16_at(path + at + 2);
        if (node < 4 || node > limit - at) return 0;
        at += node;
        if (path[at - node] == efi::kEndDevicePath && path[at - node + 1] == efi::kEndEntireSubType)
            return at;
    }
    return 0;
}

char* device_path_text(const uint8_t* path, uint64_t length) {
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    if (!path || length < 4 || !bs ||
        efi::is_error(bs->locate_protocol(&efi::kDevicePathToTextProtocolGuid, nullptr, &iface)) ||
        !iface)
        return xstrdup("");
    // The firmware reads the path as aligned nodes: hand it an aligned copy.
    Owned<uint8_t> copy(static_cast<uint8_t*>(xallocate(length)));
    memcpy(copy.get(), path, length);
    auto* service = static_cast<efi::DevicePathToText*>(iface);
    char16_t* text = service->convert_device_path_to_text(
        reinterpret_cast<const efi::DevicePath*>(copy.get()), 0, 1);
    if (!text) return xstrdup("");
    char* utf8 = ucs2_to_utf8(text);
    bs->free_pool(text);
    return utf8;
}

const uint8_t* short_form_start(const uint8_t* path, uint64_t length) {
    uint64_t at = 0;
    while (length - at >= 4) {
        const uint64_t node = u16_at(path + at + 2);
        if (path[at] == efi::kEndDevicePath || node < 4 || node > length - at) return nullptr;
        if (path[at] == efi::kMediaDevicePath && path[at + 1] == efi::kMediaHardDriveSubType)
            return path + at;
        at += node;
    }
    return nullptr;
}

bool option_device_path(const char* typed, bool short_form, Owned<uint8_t>* path,
                        uint64_t* length) {
    Owned<char> resolved(resolve_path(typed));
    FileStat st{};
    if (!resolved || file_stat(resolved.get(), &st) != kOk || st.is_directory) {
        print_error("bcfg: %s: file not found\n", typed);
        return false;
    }
    efi::DevicePath* full = nullptr;
    if (file_device_path(resolved.get(), &full) != kOk || !full) {
        print_error("bcfg: %s: file not found\n", typed);
        return false;
    }
    Owned<uint8_t> bytes(reinterpret_cast<uint8_t*>(full));
    const uint64_t size = device_path_size(bytes.get(), allocation_size(bytes.get()));
    if (size == 0) {
        print_error("bcfg: %s: file not found\n", typed);
        return false;
    }
    if (short_form) {
        const uint8_t* start = short_form_start(bytes.get(), size);
        if (start) {
            const uint64_t rest = size - static_cast<uint64_t>(start - bytes.get());
            uint8_t* copy = static_cast<uint8_t*>(xallocate(rest));
            memcpy(copy, start, rest);
            path->reset(copy);
            *length = rest;
            return true;
        }
        print_error("bcfg: the volume has no partition table: using the full device path\n");
    }
    *path = move(bytes);
    *length = size;
    return true;
}

bool handle_device_path(const char* typed, Owned<uint8_t>* path, uint64_t* length) {
    efi::Handle handle = parse_handle_number(typed);
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    uint64_t size = 0;
    if (handle && bs &&
        !efi::is_error(bs->handle_protocol(handle, &efi::kDevicePathProtocolGuid, &iface)) && iface)
        size = device_path_size(static_cast<const uint8_t*>(iface), 0x10000);
    if (size == 0) {
        print_error("bcfg: %s is not a handle with a device path\n", typed);
        return false;
    }
    uint8_t* copy = static_cast<uint8_t*>(xallocate(size));
    memcpy(copy, iface, size);
    path->reset(copy);
    *length = size;
    return true;
}

}  // namespace tarn
