// Processor instructions for the firmware build.
#include "cpu/cpu.h"

namespace tarn {

uint64_t read_timestamp_counter() {
    uint32_t lo, hi;
    __asm__ volatile("rdtsc" : "=a"(lo), "=d"(hi));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

void cpuid(uint32_t leaf, uint32_t subleaf, uint32_t out[4]) {
    __asm__ volatile("cpuid"
                     : "=a"(out[0]), "=b"(out[1]), "=c"(out[2]), "=d"(out[3])
                     : "a"(leaf), "c"(subleaf));
}

uint8_t port_in8(uint16_t port) {
    uint8_t v;
    __asm__ volatile("inb %1, %0" : "=a"(v) : "Nd"(port));
    return v;
}
uint16_t port_in16(uint16_t port) {
    uint16_t v;
    __asm__ volatile("inw %1, %0" : "=a"(v) : "Nd"(port));
    return v;
}
uint32_t port_in32(uint16_t port) {
    uint32_t v;
    __asm__ volatile("inl %1, %0" : "=a"(v) : "Nd"(port));
    return v;
}
void port_out8(uint16_t port, uint8_t value) { __asm__ volatile("outb %0, %1" ::"a"(value), "Nd"(port)); }
void port_out16(uint16_t port, uint16_t value) { __asm__ volatile("outw %0, %1" ::"a"(value), "Nd"(port)); }
void port_out32(uint16_t port, uint32_t value) { __asm__ volatile("outl %0, %1" ::"a"(value), "Nd"(port)); }

void halt_forever() {
    for (;;) __asm__ volatile("cli; hlt");
}

// Microsoft x64 convention: rcx = stack_top, rdx = fn, r8 = arg. The callee gets its
// argument in rcx and 32 bytes of shadow space above the return address.
extern "C" int tarn_call_on_stack(void* stack_top, int (*fn)(void*), void* arg);
__asm__(
    ".globl tarn_call_on_stack\n"
    "tarn_call_on_stack:\n"
    "    pushq %rbp\n"
    "    movq %rsp, %rbp\n"
    "    movq %rcx, %rsp\n"
    "    andq $-16, %rsp\n"
    "    subq $32, %rsp\n"
    "    movq %r8, %rcx\n"
    "    callq *%rdx\n"
    "    movq %rbp, %rsp\n"
    "    popq %rbp\n"
    "    retq\n");

int call_on_stack(void* stack_top, int (*fn)(void*), void* arg) {
    return tarn_call_on_stack(stack_top, fn, arg);
}

}  // namespace tarn
