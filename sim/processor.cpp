// The simulated machine behind the host stand-ins of the processor instructions: a
// time-stamp counter that follows the virtual clock, port I/O recorded in a log with
// values set by the test, and a halt that ends the current run.
#include <cstdio>
#include <cstdlib>

#include "cpu_host.h"
#include "sim_impl.h"

namespace sim {

namespace {

constexpr uint64_t kTscOffset = 0x12345000;  // the counter does not start at zero
constexpr uint16_t kDebugExitPort = 0xf4;

uint64_t counter() {
    SimFirmware* fw = SimFirmware::current();
    uint64_t us = fw ? fw->now_us() : 0;
    return kTscOffset + us * SimFirmware::kTicksPerUs;
}

void record(bool write, uint16_t port, uint8_t width, uint32_t value) {
    if (SimFirmware* fw = SimFirmware::current())
        fw->impl()->port_log.push_back(PortAccess{write, port, width, value});
}

uint32_t port_read(uint16_t port, uint8_t width) {
    uint32_t mask = width == 1 ? 0xffu : width == 2 ? 0xffffu : 0xffffffffu;
    uint32_t value = mask;
    if (SimFirmware* fw = SimFirmware::current()) {
        auto& inputs = fw->impl()->port_inputs;
        auto it = inputs.find(port);
        if (it != inputs.end()) value = it->second & mask;
    }
    record(false, port, width, value);
    return value;
}

void port_write(uint16_t port, uint8_t width, uint32_t value) { record(true, port, width, value); }

void halt() {
    SimFirmware* fw = SimFirmware::current();
    if (fw) end_run_abnormally(*fw->impl(), false, "halt_forever: the processor was halted");
    std::fprintf(stderr, "sim: halt_forever called with no simulated firmware\n");
    std::abort();
}

const tarn::host_cpu::Machine kMachine = {counter, port_read, port_write, halt};

}  // namespace

void attach_processor() { tarn::host_cpu::attach_machine(&kMachine); }
void detach_processor() { tarn::host_cpu::attach_machine(nullptr); }

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
