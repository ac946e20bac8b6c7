// cpuid over the host's fixed fake processor, and sermode over fake Serial I/O ports.
#include <cstddef>
#include <cstdio>

#include "command_test.h"
#include "drivers/handle_table.h"
#include "uefi/guids.h"
#include "uefi/protocols.h"

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

namespace {

// A serial port as a 16550 driver presents it: SetAttributes takes 50 to 115200 baud
// (0 for the default), checks the other fields and updates the mode; a port can be made
// to refuse every change.
struct FakePort {
    efi::SerialIo io{};
    efi::SerialIoMode mode{};
    bool refuse = false;
    int calls = 0;
    efi::Handle handle = nullptr;

    static efi::Status EFIAPI set_attributes(efi::SerialIo* self, uint64_t baud, uint32_t fifo, uint32_t timeout,
                                             uint32_t parity, uint8_t data_bits, uint32_t stop_bits) {
        FakePort* p = reinterpret_cast<FakePort*>(self);
        p->calls++;
        if (p->refuse) return efi::kDeviceError;
        if ((baud != 0 && (baud < 50 || baud > 115200)) || parity > 5 || data_bits < 5 || data_bits > 8 ||
            stop_bits > 3)
            return efi::kInvalidParameter;
        p->mode.baud_rate = baud ? baud : 115200;
        p->mode.receive_fifo_depth = fifo;
        p->mode.timeout = timeout;
        p->mode.parity = parity ? parity : 1;
        p->mode.data_bits = data_bits;
        p->mode.stop_bits = stop_bits ? stop_bits : 1;
        return efi::kSuccess;
    }

    void install(sim::SimFirmware& fw, uint64_t baud, uint32_t parity, uint32_t data, uint32_t stop) {
        io.revision = 0x00010000;
        io.set_attributes = set_attributes;
        io.mode = &mode;
        mode = efi::SerialIoMode{0, 1000000, baud, 16, data, parity, stop};
        ASSERT_EQ(fw.system_table()->boot_services->install_protocol_interface(
                      &handle, &efi::kSerialIoProtocolGuid, efi::kNativeInterface, &io),
                  efi::kSuccess);
    }
};
static_assert(offsetof(FakePort, io) == 0);

std::string number_of(efi::Handle h) {
    char text[20];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(handle_number(h)));
    return text;
}

std::string line_of(efi::Handle h, const char* rest) { return "Handle " + number_of(h) + ": " + rest + "\n"; }

TEST(HwSermode, NoPorts) {
    CommandShell s;
    EXPECT_EQ(s.output("sermode"), "No serial ports.\n");
}

TEST(HwSermode, ShowsEveryPortAndOne) {
    CommandShell s;
    FakePort a, b;
    a.install(s.fw, 115200, 1, 8, 1);
    b.install(s.fw, 9600, 4, 7, 2);
    const std::string la = line_of(a.handle, "115200 baud, parity none, 8 data bits, stop bits 1");
    const std::string lb = line_of(b.handle, "9600 baud, parity mark, 7 data bits, stop bits 1.5");
    EXPECT_EQ(s.output("sermode"), la + lb);
    EXPECT_EQ(s.output("sermode " + number_of(b.handle)), lb);
    EXPECT_EQ(s.output("sermode 0x" + number_of(a.handle)), la);
    EXPECT_EQ(a.calls + b.calls, 0);
}

TEST(HwSermode, SetsTheLineKeepingFifoAndTimeout) {
    CommandShell s;
    FakePort p;
    p.install(s.fw, 115200, 1, 8, 1);
    const std::string h = number_of(p.handle);
    struct Case {
        const char* args;
        const char* line;
    } cases[] = {
        {"9600 even 7 2", "9600 baud, parity even, 7 data bits, stop bits 2"},
        {"57600 o 8 15", "57600 baud, parity odd, 8 data bits, stop bits 1.5"},
        {"1200 s 5 1.5", "1200 baud, parity space, 5 data bits, stop bits 1.5"},
        {"0 d 8 0", "115200 baud, parity none, 8 data bits, stop bits 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(s.output("sermode " + h + " " + c.args), line_of(p.handle, c.line));
        EXPECT_EQ(p.mode.receive_fifo_depth, 16u);
        EXPECT_EQ(p.mode.timeout, 1000000u);
    }
    EXPECT_EQ(p.calls, 4);
}

TEST(HwSermode, BadInput) {
    CommandShell s;
    FakePort p, deaf;
    p.install(s.fw, 115200, 1, 8, 1);
    deaf.install(s.fw, 115200, 1, 8, 1);
    deaf.refuse = true;
    const std::string h = number_of(p.handle);
    const std::string usage = "usage: sermode HANDLE BAUD d|n|e|o|m|s DATABITS(5-8) 0|1|1.5|2\n";
    // The console's own handle: a handle, not a serial port.
    const std::string other = number_of(s.fw.image_handle());
    struct Case {
        std::string line;
        int code;
        std::string message;
    } cases[] = {
        {"sermode " + h + " 9600", 2, usage},
        {"sermode " + h + " 9600 n 8", 2, usage},
        {"sermode " + h + " 9600 n 8 1 x", 2, usage},
        {"sermode " + h + " 9600 x 8 1", 2, usage},
        {"sermode " + h + " 9600 n 9 1", 2, usage},
        {"sermode " + h + " 9600 n 8 3", 2, usage},
        {"sermode " + h + " fast n 8 1", 2, usage},
        {"sermode zz", 1, "sermode: zz is not a handle\n"},
        {"sermode 0", 1, "sermode: 0 is not a handle\n"},
        {"sermode FFFF 9600 n 8 1", 1, "sermode: FFFF is not a handle\n"},
        {"sermode " + other, 1, "sermode: " + other + " is not a serial port handle\n"},
        {"sermode " + h + " 230400 n 8 1", 1, "sermode: invalid parameter\n"},
        {"sermode " + number_of(deaf.handle) + " 9600 n 8 1", 1, "sermode: device error\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const RunResult r = s.expect_failure(c.line, c.code, c.message);
        EXPECT_EQ(r.out, "");
    }
    // Nothing refused changed the port.
    EXPECT_EQ(p.mode.baud_rate, 115200u);
    EXPECT_EQ(p.calls, 1);
}

}  // namespace
