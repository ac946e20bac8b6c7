#include "device_path_from_text.h"

#include <cstring>
#include <string>
#include <vector>

#include "handles.h"
#include "sim_text.h"
#include "uefi/guids.h"
#include "uefi/protocols.h"

namespace sim {
namespace {

struct FromTextState {
    efi::DevicePathFromText protocol{};
    efi::Handle handle = nullptr;
};

using Bytes = std::vector<uint8_t>;

bool parse_number(const std::string& text, uint64_t* out) {
    if (text.empty()) return false;
    size_t used = 0;
    try {
        *out = std::stoull(text, &used, text.size() > 2 && text[0] == '0' &&
                                                (text[1] == 'x' || text[1] == 'X') ? 16 : 10);
    } catch (...) {
        return false;
    }
    return used == text.size();
}

std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(at, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

void put(Bytes& out, uint64_t value, int size) {
    for (int i = 0; i < size; i++) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void header(Bytes& out, uint8_t type, uint8_t sub_type, uint16_t length) {
    out.push_back(type);
    out.push_back(sub_type);
    put(out, length, 2);
}

// One node "Name(args)" appended to out; false for text the firmware would reject.
bool node(const std::string& text, Bytes& out) {
    const size_t open = text.find('(');
    if (open == std::string::npos || text.back() != ')') return false;
    const std::string name = text.substr(0, open);
    const std::vector<std::string> args = split(text.substr(open + 1, text.size() - open - 2), ',');
    std::vector<uint64_t> n(args.size());
    if (name == "PciRoot" && args.size() == 1 && parse_number(args[0], &n[0]) && n[0] <= 0xffffffff) {
        header(out, efi::kAcpiDevicePath, 1, 12);
        put(out, 0x0a0341d0, 4);
        put(out, n[0], 4);
        return true;
    }
    if (name == "Pci" && args.size() == 2 && parse_number(args[0], &n[0]) &&
        parse_number(args[1], &n[1]) && n[0] <= 0xff && n[1] <= 0xff) {
        header(out, efi::kHardwareDevicePath, 1, 6);
        out.push_back(static_cast<uint8_t>(n[1]));
        out.push_back(static_cast<uint8_t>(n[0]));
        return true;
    }
    if (name == "Path" && args.size() == 3 && parse_number(args[0], &n[0]) &&
        parse_number(args[1], &n[1]) && n[0] <= 0xff && n[1] <= 0xff && args[2].size() % 2 == 0 &&
        args[2].size() / 2 + 4 <= 0xffff) {
        header(out, static_cast<uint8_t>(n[0]), static_cast<uint8_t>(n[1]),
               static_cast<uint16_t>(args[2].size() / 2 + 4));
        for (size_t i = 0; i < args[2].size(); i += 2) {
            uint64_t byte = 0;
            if (!parse_number("0x" + args[2].substr(i, 2), &byte)) return false;
            out.push_back(static_cast<uint8_t>(byte));
        }
        return true;
    }
    return false;
}

efi::DevicePath* to_pool(const Bytes& bytes) {
    SimFirmware* fw = SimFirmware::current();
    void* p = fw ? fw->allocate_pool(bytes.size()) : nullptr;
    if (!p) return nullptr;
    std::memcpy(p, bytes.data(), bytes.size());
    return static_cast<efi::DevicePath*>(p);
}

std::string text_of(const efi::Char16* text) {
    std::u16string s;
    for (const efi::Char16* p = text; *p; p++) s.push_back(static_cast<char16_t>(*p));
    return from_u16(s);
}

efi::DevicePath* EFIAPI text_to_node(const efi::Char16* text) {
    Bytes out;
    if (!text || !node(text_of(text), out)) return nullptr;
    return to_pool(out);
}

efi::DevicePath* EFIAPI text_to_path(const efi::Char16* text) {
    if (!text) return nullptr;
    Bytes out;
    for (const std::string& part : split(text_of(text), '/'))
        if (!part.empty() && !node(part, out)) return nullptr;
    if (out.empty()) return nullptr;
    header(out, efi::kEndDevicePath, efi::kEndEntireSubType, 4);
    return to_pool(out);
}

}  // namespace

void install_device_path_from_text(SimFirmware& fw) {
    FromTextState& s = fw.module_state<FromTextState>();
    if (s.handle) return;
    s.protocol.convert_text_to_device_node = text_to_node;
    s.protocol.convert_text_to_device_path = text_to_path;
    s.handle = fw.handles().install_new(efi::kDevicePathFromTextProtocolGuid, &s.protocol);
}

}  // namespace sim
