// The text-output protocol started images see while the shell's output is redirected.
#include "images/console_hook.h"

#include "runtime/firmware.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"

namespace tarn {
namespace {

struct ConsoleHookState {
    int depth;
    efi::SimpleTextOutput* real;  // the firmware's ConOut while the hook is in
};
constinit ConsoleHookState g_hook = {0, nullptr};

efi::Status EFIAPI hook_reset(efi::SimpleTextOutput*, efi::Boolean) { return efi::kSuccess; }

efi::Status EFIAPI hook_output_string(efi::SimpleTextOutput*, const efi::Char16* text) {
    if (!text) return efi::kInvalidParameter;
    StringBuffer utf8;
    for (const efi::Char16* p = text; *p; p++)
        if (*p != u'\r') append_codepoint(utf8, *p);
    out_write(utf8.c_str(), utf8.length);
    return efi::kSuccess;
}

efi::Status EFIAPI hook_test_string(efi::SimpleTextOutput*, const efi::Char16* text) {
    efi::SimpleTextOutput* real = g_hook.real;
    return real ? real->test_string(real, text) : efi::kSuccess;
}

efi::Status EFIAPI hook_query_mode(efi::SimpleTextOutput*, uint64_t mode, uint64_t* columns, uint64_t* rows) {
    efi::SimpleTextOutput* real = g_hook.real;
    return real ? real->query_mode(real, mode, columns, rows) : efi::kUnsupported;
}

efi::Status EFIAPI hook_set_mode(efi::SimpleTextOutput*, uint64_t) { return efi::kSuccess; }
efi::Status EFIAPI hook_set_attribute(efi::SimpleTextOutput*, uint64_t) { return efi::kSuccess; }
efi::Status EFIAPI hook_clear_screen(efi::SimpleTextOutput*) { return efi::kSuccess; }
efi::Status EFIAPI hook_set_cursor(efi::SimpleTextOutput*, uint64_t, uint64_t) { return efi::kSuccess; }
efi::Status EFIAPI hook_enable_cursor(efi::SimpleTextOutput*, efi::Boolean) { return efi::kSuccess; }

constinit efi::SimpleTextOutput g_protocol = {
    hook_reset,         hook_output_string, hook_test_string,   hook_query_mode, hook_set_mode,
    hook_set_attribute, hook_clear_screen,  hook_set_cursor,    hook_enable_cursor, nullptr,
};

// The header CRC over header_size bytes with the CRC field zero, by the firmware.
void seal_system_table(efi::SystemTable* st) {
    st->hdr.crc32 = 0;
    uint32_t crc = 0;
    auto* bs = boot_services();
    if (bs && bs->calculate_crc32(st, st->hdr.header_size, &crc) == efi::kSuccess) st->hdr.crc32 = crc;
}

void swap_con_out(efi::SimpleTextOutput* to) {
    efi::SystemTable* st = firmware().system_table;
    if (!st) return;
    st->con_out = to;
    seal_system_table(st);
}

}  // namespace

void console_hook_enter() {
    if (g_hook.depth++ > 0) return;
    efi::SystemTable* st = firmware().system_table;
    if (!st || !st->con_out) return;
    g_hook.real = st->con_out;
    g_protocol.mode = g_hook.real->mode;
    firmware().console_out = g_hook.real;
    swap_con_out(&g_protocol);
}

void console_hook_leave() {
    if (g_hook.depth <= 0) return;
    if (--g_hook.depth > 0) return;
    if (!g_hook.real) return;
    swap_con_out(g_hook.real);
    firmware().console_out = nullptr;
    g_hook.real = nullptr;
}

int console_hook_depth() { return g_hook.depth; }

efi::SimpleTextOutput* console_hook_protocol() { return &g_protocol; }

void reset_console_hook() {
    if (g_hook.real) {
        g_hook.depth = 1;
        console_hook_leave();
    }
    g_hook = {0, nullptr};
}

}  // namespace tarn
