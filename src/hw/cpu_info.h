// What the processor says about itself, decoded from the registers CPUID returns: the
// vendor and maximum leaf of leaf 0, the family, model and stepping of leaf 1 and the
// feature flags cpuid prints. Pure functions of register values, so any processor's
// answers can be decoded anywhere.
#pragma once
#include <stdint.h>

namespace tarn {

// EAX, EBX, ECX, EDX of one leaf.
struct CpuidRegisters {
    uint32_t eax, ebx, ecx, edx;
};

struct CpuIdentity {
    char vendor[13];       // EBX, EDX, ECX of leaf 0 as text
    uint32_t max_leaf;     // EAX of leaf 0
    uint32_t family;       // base family, plus the extended family when the base is 0xF
    uint32_t model;        // with the extended model as high nibble from base family 6 on
    uint32_t stepping;
    uint32_t logical_processors;  // per package, EBX bits 16 to 23 of leaf 1
};

// leaf1 is read only when leaf0 reports it (max_leaf >= 1); otherwise the leaf-1 fields are 0.
CpuIdentity decode_cpu_identity(const CpuidRegisters& leaf0, const CpuidRegisters& leaf1);

// The feature flags of leaf 1 in their printing order.
struct CpuFeature {
    const char* name;
    bool in_edx;  // else ECX
    uint8_t bit;
};
const CpuFeature* cpu_features(uint32_t* count);
bool has_cpu_feature(const CpuFeature& feature, const CpuidRegisters& leaf1);

}  // namespace tarn
