// CPUID decoding from register values: vendor text, the family and model rules, the
// feature table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hw/cpu_info.h"

using namespace tarn;

namespace {

CpuidRegisters vendor_leaf(uint32_t max_leaf, const char* vendor) {
    CpuidRegisters r{max_leaf, 0, 0, 0};
    std::memcpy(&r.ebx, vendor, 4);
    std::memcpy(&r.edx, vendor + 4, 4);
    std::memcpy(&r.ecx, vendor + 8, 4);
    return r;
}

struct IdentityCase {
    const char* what;
    uint32_t max_leaf;
    uint32_t eax, ebx;
    uint32_t family, model, stepping, logical;
};

TEST(HwCpuInfo, FamilyModelAndStepping) {
    const IdentityCase cases[] = {
        // Family 6: the extended model is the high nibble; the extended family is ignored.
        {"Skylake client", 0x16, 0x000506e3, 0x00080800, 6, 0x5e, 3, 8},
        {"Kaby Lake", 0x16, 0x000906ea, 0x00040800, 6, 0x9e, 0xa, 4},
        {"family 6, stray extended family", 0x16, 0x0ff906ea, 0, 6, 0x9e, 0xa, 0},
        // Family 0xF: extended family added, extended model too.
        {"qemu64", 0xd, 0x00060fb1, 0x00010800, 0xf, 0x6b, 1, 1},
        {"Zen", 0x10, 0x00800f12, 0x00100800, 0x17, 0x01, 2, 16},
        {"Zen 2", 0x10, 0x00870f10, 0x00ff0800, 0x17, 0x71, 0, 255},
        {"Pentium 4", 0x2, 0x00000f29, 0, 0xf, 0x2, 9, 0},
        // Below family 6 neither extension applies.
        {"Pentium", 0x1, 0x00010543, 0, 5, 4, 3, 0},
        {"486", 0x1, 0x0ff00480, 0, 4, 8, 0, 0},
        // No leaf 1: only leaf 0 counts.
        {"max leaf 0", 0x0, 0x000906ea, 0x00040800, 0, 0, 0, 0},
    };
    for (const IdentityCase& c : cases) {
        SCOPED_TRACE(c.what);
        const CpuIdentity id = decode_cpu_identity(vendor_leaf(c.max_leaf, "GenuineIntel"),
                                                   CpuidRegisters{c.eax, c.ebx, 0, 0});
        EXPECT_EQ(id.max_leaf, c.max_leaf);
        EXPECT_EQ(id.family, c.family);
        EXPECT_EQ(id.model, c.model);
        EXPECT_EQ(id.stepping, c.stepping);
        EXPECT_EQ(id.logical_processors, c.logical);
    }
}

TEST(HwCpuInfo, VendorTextIsEbxEdxEcx) {
    for (const char* vendor : {"GenuineIntel", "AuthenticAMD", "TCGTCGTCGTCG", "  Shanghai  "}) {
        const CpuIdentity id = decode_cpu_identity(vendor_leaf(1, vendor), CpuidRegisters{});
        EXPECT_EQ(std::string(id.vendor), vendor);
    }
}

std::string features(uint32_t ecx, uint32_t edx) {
    uint32_t n = 0;
    const CpuFeature* table = cpu_features(&n);
    std::string out;
    for (uint32_t i = 0; i < n; i++)
        if (has_cpu_feature(table[i], CpuidRegisters{0, 0, ecx, edx})) out += std::string(" ") + table[i].name;
    return out;
}

TEST(HwCpuInfo, FeatureTableBitsAndOrder) {
    struct Case {
        uint32_t ecx, edx;
        const char* names;
    } cases[] = {
        {0, 0, ""},
        {0, 1u << 25, " SSE"},
        {0, 1u << 26, " SSE2"},
        {1u << 0, 0, " SSE3"},
        {1u << 19, 0, " SSE4.1"},
        {1u << 20, 0, " SSE4.2"},
        {1u << 28, 0, " AVX"},
        {1u << 25, 0, " AES"},
        {1u << 30, 0, " RDRAND"},
        {1u << 5, 0, " VMX"},
        {0, 1u << 28, " HTT"},
        {1u << 31, 0, " hypervisor"},
        // The same bit in the other register is not the feature.
        {1u << 26, 1u << 0, ""},
        {~0u, ~0u, " SSE SSE2 SSE3 SSE4.1 SSE4.2 AVX AES RDRAND VMX HTT hypervisor"},
        // A virtual machine's leaf 1.
        {0x80802001, 0x078bfbfd, " SSE SSE2 SSE3 hypervisor"},
    };
    for (const Case& c : cases) EXPECT_EQ(features(c.ecx, c.edx), c.names) << std::hex << c.ecx << " " << c.edx;
}

}  // namespace
