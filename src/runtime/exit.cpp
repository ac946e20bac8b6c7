// Leaving the program.
#include "runtime/exit.h"

#include "cpu/cpu.h"
#include "runtime/console.h"
#include "runtime/firmware.h"

namespace tarn {

namespace {
struct ExitState {
    ExitHook hook;
    bool restored;
};
constinit ExitState g_exit{};
}  // namespace

void set_exit_hook(ExitHook hook) {
    g_exit.hook = hook;
    g_exit.restored = false;
}

efi::Status exit_status(int exit_code) {
    if (exit_code == 0) return efi::kSuccess;
    return efi::kErrorBit | (static_cast<uint32_t>(exit_code) & 0xffu);
}

void restore_console_state() {
    if (g_exit.restored) return;
    g_exit.restored = true;
    if (g_exit.hook) g_exit.hook();
    FirmwareContext& fw = firmware();
    console_restore_attribute();
    if (fw.saved_mode >= 0 && fw.system_table && fw.system_table->con_out) {
        auto* out = fw.system_table->con_out;
        out->set_mode(out, static_cast<uint64_t>(fw.saved_mode));
        fw.saved_mode = -1;
    }
}

void program_exit(int exit_code) {
    restore_console_state();
    FirmwareContext& fw = firmware();
    if (fw.boot) fw.boot->exit(fw.image, exit_status(exit_code), 0, nullptr);
    halt_forever();
}

void fatal(const char* message) {
    console_write_text("\ntarn: fatal: ");
    console_write_text(message);
    console_write_text("\n");
    program_exit(1);
}

}  // namespace tarn
