// Decoding of CPUID register values.
#include "hw/cpu_info.h"
#include "runtime/strings.h"

namespace tarn {
namespace {

constexpr CpuFeature kFeatures[] = {
    {"SSE", true, 25},    {"SSE2", true, 26},   {"SSE3", false, 0},  {"SSE4.1", false, 19},
    {"SSE4.2", false, 20}, {"AVX", false, 28},  {"AES", false, 25},  {"RDRAND", false, 30},
    {"VMX", false, 5},    {"HTT", true, 28},    {"hypervisor", false, 31},
};

uint32_t bits(uint32_t value, int low, int count) { return (value >> low) & ((1u << count) - 1); }

}  // namespace

CpuIdentity decode_cpu_identity(const CpuidRegisters& leaf0, const CpuidRegisters& leaf1) {
    CpuIdentity id{};
    memcpy(id.vendor, &leaf0.ebx, 4);
    memcpy(id.vendor + 4, &leaf0.edx, 4);
    memcpy(id.vendor + 8, &leaf0.ecx, 4);
    id.vendor[12] = 0;
    id.max_leaf = leaf0.eax;
    if (id.max_leaf < 1) return id;
    const uint32_t a = leaf1.eax;
    id.stepping = bits(a, 0, 4);
    id.model = bits(a, 4, 4);
    const uint32_t base_family = bits(a, 8, 4);
    id.family = base_family;
    if (base_family == 0xF) id.family += bits(a, 20, 8);
    if (base_family >= 6) id.model |= bits(a, 16, 4) << 4;
    id.logical_processors = bits(leaf1.ebx, 16, 8);
    return id;
}

const CpuFeature* cpu_features(uint32_t* count) {
    *count = static_cast<uint32_t>(sizeof(kFeatures) / sizeof(kFeatures[0]));
    return kFeatures;
}

bool has_cpu_feature(const CpuFeature& feature, const CpuidRegisters& leaf1) {
    const uint32_t reg = feature.in_edx ? leaf1.edx : leaf1.ecx;
    return (reg >> feature.bit) & 1u;
}

}  // namespace tarn
