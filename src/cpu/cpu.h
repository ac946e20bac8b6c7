// Processor instructions the shell uses: a leaf below the runtime that includes nothing
// of ours. The firmware build implements them with the instructions themselves
// (cpu_efi.cpp); the host build links stand-ins (host/cpu_host.cpp).
#pragma once
#include <stdint.h>

namespace tarn {

uint64_t read_timestamp_counter();
void cpuid(uint32_t leaf, uint32_t subleaf, uint32_t out[4]);
uint8_t port_in8(uint16_t port);
uint16_t port_in16(uint16_t port);
uint32_t port_in32(uint16_t port);
void port_out8(uint16_t port, uint8_t value);
void port_out16(uint16_t port, uint16_t value);
void port_out32(uint16_t port, uint32_t value);
[[noreturn]] void halt_forever();
// Calls fn(arg) with the stack pointer at stack_top (16-byte aligned) and returns its result.
int call_on_stack(void* stack_top, int (*fn)(void*), void* arg);

}  // namespace tarn
