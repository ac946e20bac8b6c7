// cpuid over the host's fixed fake processor, and sermode over fake Serial I/O ports.
#include "command_test.h"

using namespace tarn;

using namespace tarn_test;

namespace {

TEST(HwCpuid, SummaryOfTheFakeProcessor) {
    CommandShell s;
    EXPECT_EQ(s.output("cpuid"),
              "Vendor: GenuineIntel, max leaf 16\n"
              "Family 6, model 9E, stepping A, logical processors per package 4\n"
              "Features: SSE SSE2 SSE3 SSE4.1 SSE4.2 AVX AES RDRAND VMX HTT\n");
}

TEST(HwCpuid, RawLeavesAndBadOperands) {
    CommandShell s;
    struct Case {
        const char* line;
        const char* out;
    } cases[] = {
        {"cpuid 1", "EAX=000906EA EBX=00040800 ECX=7FFAFBBF EDX=BFEBFBFF\n"},
        {"cpuid 0x1 0", "EAX=000906EA EBX=00040800 ECX=7FFAFBBF EDX=BFEBFBFF\n"},
        {"cpuid 80000000", "EAX=80000008 EBX=00000000 ECX=00000000 EDX=00000000\n"},
        {"cpuid 80000008 5", "EAX=00003027 EBX=00000000 ECX=00000000 EDX=00000000\n"},
        {"cpuid 7fffffff", "EAX=00000000 EBX=00000000 ECX=00000000 EDX=00000000\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(s.output(c.line), c.out) << c.line;
    for (const char* line : {"cpuid 1 2 3", "cpuid xyz", "cpuid 100000000", "cpuid 1 100000000", "cpuid -x"}) {
        SCOPED_TRACE(line);
        s.expect_failure(line, 2, "usage: cpuid [LEAF [SUBLEAF]]");
    }
}

}  // namespace
