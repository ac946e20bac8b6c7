// Building ACPI tables and SMBIOS data in fake physical memory for the hardware tests.
#pragma once
#include <cstring>
#include <string>

#include "hw/config_tables.h"
#include "phys_memory.h"
#include "command_test.h"

namespace hw_test {

using namespace tarn;

inline void put(std::string& s, size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; i++) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Blob addresses below 4 GiB, so 32-bit table fields can hold them.
inline uint64_t next_address() {
    static uint64_t next = 0x10000000;
    next += 0x10000;
    return next;
}

// A table with a standard header (OEM "TARNOE", table "TARNTABL") and a correct checksum.
inline uint64_t add_table(sim::SimFirmware& fw, const char* sig, const std::string& body, uint8_t revision = 1) {
    std::string t(36, '\0');
    std::memcpy(&t[0], sig, 4);
    put(t, 4, 36 + body.size(), 4);
    t[8] = static_cast<char>(revision);
    std::memcpy(&t[10], "TARNOE", 6);
    std::memcpy(&t[16], "TARNTABL", 8);
    t += body;
    uint8_t sum = 0;
    for (char c : t) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    t[9] = static_cast<char>(-sum);
    return sim::add_physical_blob(fw, t, next_address());
}

inline void install_rsdp(tarn_test::CommandShell& s, uint8_t revision, uint64_t rsdt, uint64_t xsdt) {
    std::string r(36, '\0');
    std::memcpy(&r[0], "RSD PTR ", 8);
    std::memcpy(&r[9], "TARNOE", 6);
    r[15] = static_cast<char>(revision);
    put(r, 16, rsdt, 4);
    put(r, 20, 36, 4);
    put(r, 24, xsdt, 8);
    uint64_t at = sim::add_physical_blob(s.fw, r, next_address());
    s.fw.install_configuration_table(kAcpi20TableGuid, reinterpret_cast<void*>(at));
}

struct HwShell : tarn_test::CommandShell {
    HwShell() { run("set -v pager off"); }
};

}  // namespace hw_test
