// Host versions of the processor instructions: a time-stamp counter that follows the
// virtual clock, a fixed fake CPU for CPUID, and port I/O recorded in a log.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/cpu.h"
#include "sim_impl.h"

namespace sim {

namespace {

constexpr uint64_t kTscOffset = 0x12345000;  // the counter does not start at zero
constexpr uint16_t kDebugExitPort = 0xf4;

void put_string(uint32_t out[4], const char* text, int first, int count) {
    // Packs 4*count bytes of text into out[first..first+count) little-endian.
    char buf[16] = {};
    std::memcpy(buf, text, std::min<size_t>(std::strlen(text), sizeof(buf)));
    for (int i = 0; i < count; i++) std::memcpy(&out[first + i], buf + 4 * i, 4);
}

void record(bool write, uint16_t port, uint8_t width, uint32_t value) {
    if (SimFirmware* fw = SimFirmware::current())
        fw->impl()->port_log.push_back(PortAccess{write, port, width, value});
}

uint32_t port_value(uint16_t port, uint32_t mask) {
    if (SimFirmware* fw = SimFirmware::current()) {
        auto& inputs = fw->impl()->port_inputs;
        auto it = inputs.find(port);
        if (it != inputs.end()) return it->second & mask;
    }
    return mask;
}

}  // namespace

const std::vector<PortAccess>& SimFirmware::port_log() const { return impl_->port_log; }
void SimFirmware::clear_port_log() { impl_->port_log.clear(); }
void SimFirmware::set_port_input(uint16_t port, uint32_t value) { impl_->port_inputs[port] = value; }

std::vector<uint32_t> SimFirmware::debug_exit_writes() const {
    std::vector<uint32_t> out;
    for (auto& a : impl_->port_log)
        if (a.write && a.port == kDebugExitPort) out.push_back(a.value);
    return out;
}

}  // namespace sim

namespace tarn {

uint64_t read_timestamp_counter() {
    sim::SimFirmware* fw = sim::SimFirmware::current();
    uint64_t us = fw ? fw->now_us() : 0;
    return sim::kTscOffset + us * sim::SimFirmware::kTicksPerUs;
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
        out[0] = 1000;  // base MHz, matching the counter's ticks per microsecond
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
        sim::put_string(out, "TARN Simulated C", 0, 4);
        break;
    case 0x80000003:
        sim::put_string(out, "PU @ 1.00GHz", 0, 4);
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

uint8_t port_in8(uint16_t port) {
    auto v = static_cast<uint8_t>(sim::port_value(port, 0xff));
    sim::record(false, port, 1, v);
    return v;
}
uint16_t port_in16(uint16_t port) {
    auto v = static_cast<uint16_t>(sim::port_value(port, 0xffff));
    sim::record(false, port, 2, v);
    return v;
}
uint32_t port_in32(uint16_t port) {
    uint32_t v = sim::port_value(port, 0xffffffffu);
    sim::record(false, port, 4, v);
    return v;
}
void port_out8(uint16_t port, uint8_t value) { sim::record(true, port, 1, value); }
void port_out16(uint16_t port, uint16_t value) { sim::record(true, port, 2, value); }
void port_out32(uint16_t port, uint32_t value) { sim::record(true, port, 4, value); }

void halt_forever() {
    sim::SimFirmware* fw = sim::SimFirmware::current();
    if (fw) sim::end_run_abnormally(*fw->impl(), false, "halt_forever: the processor was halted");
    std::fprintf(stderr, "sim: halt_forever called with no simulated firmware\n");
    std::abort();
}

int call_on_stack(void*, int (*fn)(void*), void* arg) { return fn(arg); }

}  // namespace tarn
