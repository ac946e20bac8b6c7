// cpuid: the processor's vendor, family, model, stepping and features, or one raw leaf.
#include "cpu/cpu.h"
#include "hw/cpu_info.h"
#include "hw/hw_commands.h"
#include "hw/hw_common.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int cpuid_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"cpuid", cpuid_command, "cpuid [LEAF [SUBLEAF]]", "Show the processor's identity and features",
     "  Without LEAF, shows the vendor, the maximum leaf, the family, model and stepping,\n"
     "  the logical processors per package and the main feature flags.\n"
     "  cpuid LEAF [SUBLEAF]   the four registers CPUID returns for that leaf\n"
     "  LEAF and SUBLEAF are hexadecimal; SUBLEAF defaults to 0.\n",
     0},
};

CpuidRegisters read_leaf(uint32_t leaf, uint32_t subleaf) {
    uint32_t r[4];
    cpuid(leaf, subleaf, r);
    return CpuidRegisters{r[0], r[1], r[2], r[3]};
}

int show_summary() {
    const CpuidRegisters leaf0 = read_leaf(0, 0);
    const CpuidRegisters leaf1 = leaf0.eax >= 1 ? read_leaf(1, 0) : CpuidRegisters{};
    const CpuIdentity id = decode_cpu_identity(leaf0, leaf1);
    out_printf("Vendor: %s, max leaf %X\n", id.vendor, id.max_leaf);
    if (id.max_leaf < 1) return 0;
    out_printf("Family %X, model %X, stepping %X, logical processors per package %u\n", id.family, id.model,
               id.stepping, id.logical_processors);
    uint32_t n = 0;
    const CpuFeature* features = cpu_features(&n);
    out_printf("Features:");
    for (uint32_t i = 0; i < n; i++)
        if (has_cpu_feature(features[i], leaf1)) out_printf(" %s", features[i].name);
    out_printf("\n");
    return 0;
}

int cpuid_command(int count, char** vector) {
    const int first = 1;  // no options: a dash word is not a hexadecimal leaf
    const int operands = count - first;
    if (operands == 0) return show_summary();
    uint64_t leaf = 0, subleaf = 0;
    if (operands > 2 || !parse_hex(vector[first], &leaf) || leaf > 0xffffffffu ||
        (operands == 2 && (!parse_hex(vector[first + 1], &subleaf) || subleaf > 0xffffffffu)))
        return report_usage("cpuid");
    const CpuidRegisters r = read_leaf(static_cast<uint32_t>(leaf), static_cast<uint32_t>(subleaf));
    out_printf("EAX=%08X EBX=%08X ECX=%08X EDX=%08X\n", r.eax, r.ebx, r.ecx, r.edx);
    return 0;
}

}  // namespace

void register_cpuid_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
