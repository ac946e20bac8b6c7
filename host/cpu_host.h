// Host stand-ins for the processor instructions of cpu/cpu.h (host build only). A fixed
// fake processor answers CPUID; the rest is asked of the machine attached by whoever
// simulates one (the simulated firmware, or a test): the time-stamp counter, port reads
// and writes, and what a halt does. With no machine attached the counter stands still,
// ports read all ones, writes go nowhere and a halt ends the program.
#pragma once
#include <stdint.h>

namespace tarn::host_cpu {

struct Machine {
    uint64_t (*counter)();                                    // time-stamp counter
    uint32_t (*port_read)(uint16_t port, uint8_t width);      // width 1, 2 or 4 bytes
    void (*port_write)(uint16_t port, uint8_t width, uint32_t value);
    void (*halt)();                                           // must not return
};

// The machine the instructions go to from now on; null detaches it. Not copied: it
// must outlive its attachment.
void attach_machine(const Machine* machine);

// The counter's value while no machine is attached.
constexpr uint64_t kIdleCounter = 0x12345000;

}  // namespace tarn::host_cpu
