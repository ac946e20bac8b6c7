// Host versions of the processor instructions: a fixed fake CPU for CPUID; the counter,
// port I/O and halt go to the attached machine (see cpu_host.h).
#include "cpu_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cpu/cpu.h"

namespace tarn {

namespace {

const host_cpu::Machine* g_machine = nullptr;

void put_string(uint32_t out[4], const char* text, int first, int count) {
    // Packs 4*count bytes of text into out[first..first+count) little-endian.
    char buf[16] = {};
    std::memcpy(buf, text, std::min<size_t>(std::strlen(text), sizeof(buf)));
    for (int i = 0; i < count; i++) std::memcpy(&out[first + i], buf + 4 * i, 4);
}

uint32_t port_read(uint16_t port, uint8_t width, uint32_t mask) {
    if (g_machine && g_machine->port_read) return g_machine->port_read(port, width) & mask;
    return mask;
}

void port_write(uint16_t port, uint8_t width, uint32_t value) {
    if (g_machine && g_machine->port_write) g_machine->port_write(port, width, value);
}

}  // namespace

void host_cpu::attach_machine(const Machine* machine) { g_machine = machine; }

uint64_t read_timestamp_counter() {
    if (g_machine && g_machine->counter) return g_machine->counter();
    return host_cpu::kIdleCounter;
}

void cpuid(uint32_t leaf, uint32_t subleaf, uint32_t out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    switch (leaf) {
    case 0:
        out[0] = 0x16;
        // "GenuineIntel" in EBX, EDX, ECX order.
        std::memcpy(&out[1], "Genu", 4);
        std::memcpy(&out[3], "ineI", 4);
        std::memcpy(&out[2], "ntel", 4);
        break;
    case 1:
        out[0] = 0x000906ea;  // family 6, model 0x9e, stepping 10
        out[1] = 0x00040800;  // 4 logical processors, CLFLUSH line 64 bytes
        out[2] = 0x7ffafbbf;
        out[3] = 0xbfebfbff;
        break;
    case 0x16:
        out[0] = 1000;  // base MHz, matching the simulated counter's ticks per microsecond
        out[1] = 1000;
        out[2] = 100;
        break;
    case 0x80000000:
        out[0] = 0x80000008;
        break;
    case 0x80000001:
        out[2] = 0x00000121;
        out[3] = 0x2c100800;
        break;
    case 0x80000002:
        put_string(out, "TARN Simulated C", 0, 4);
        break;
    case 0x80000003:
        put_string(out, "PU @ 1.00GHz", 0, 4);
        break;
    case 0x80000004:
        break;
    case 0x80000008:
        out[0] = 0x00003027;  // 39 physical, 48 linear address bits
        break;
    default:
        break;
    }
    (void)subleaf;
}

uint8_t port_in8(uint16_t port) { return static_cast<uint8_t>(port_read(port, 1, 0xff)); }
uint16_t port_in16(uint16_t port) { return static_cast<uint16_t>(port_read(port, 2, 0xffff)); }
uint32_t port_in32(uint16_t port) { return port_read(port, 4, 0xffffffffu); }
void port_out8(uint16_t port, uint8_t value) { port_write(port, 1, value); }
void port_out16(uint16_t port, uint16_t value) { port_write(port, 2, value); }
void port_out32(uint16_t port, uint32_t value) { port_write(port, 4, value); }

void halt_forever() {
    if (g_machine && g_machine->halt) g_machine->halt();
    std::fprintf(stderr, "host cpu: halt_forever called with no machine to halt\n");
    std::abort();
}

int call_on_stack(void*, int (*fn)(void*), void* arg) { return fn(arg); }

}  // namespace tarn
