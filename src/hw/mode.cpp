// mode: list the console's text modes or select one by size, the largest, or the one
// that fills the screen after the console driver restarts.
#include "hw/display_fit.h"
#include "hw/display_modes.h"
#include "hw/hw_commands.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/executor.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int mode_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"mode", mode_command, "mode [COLUMNS ROWS | -max | -fill]", "List or select the console's text mode",
     "  Without arguments, lists the text modes the console offers.\n"
     "  mode COLUMNS ROWS   selects the mode of that size (decimal)\n"
     "  -max                selects the mode with the most characters\n"
     "  -fill               restarts the console driver (reconnect -r), then selects the\n"
     "                      largest mode that fits the graphics resolution\n",
     0},
};

struct ModeOptions {
    bool max = false;
    bool fill = false;
};

constexpr Option<ModeOptions> kOptions[] = {
    switch_option("max", &ModeOptions::max),
    switch_option("fill", &ModeOptions::fill),
};

using ull = unsigned long long;

int list_modes() {
    Vector<TextModeSize> modes;
    read_text_modes(&modes);
    const int32_t current = console_current_mode();
    out_printf("Available text modes:\n");
    for (size_t m = 0; m < modes.size(); m++) {
        if (!modes[m].valid) continue;
        out_printf("  %2d: %3llu columns x %3llu rows%s\n", static_cast<int>(m), static_cast<ull>(modes[m].columns),
                   static_cast<ull>(modes[m].rows), static_cast<int32_t>(m) == current ? "  (current)" : "");
    }
    return kExitSuccess;
}

// Sets text mode `mode` of modes and prints its line.
int select_mode(const Vector<TextModeSize>& modes, int64_t mode) {
    const efi::Status st = console_set_mode(static_cast<uint64_t>(mode));
    if (efi::is_error(st)) return report_error("mode", "%s", status_message(st));
    out_printf("Text mode %d: %llu x %llu characters\n", static_cast<int>(mode),
               static_cast<ull>(modes[static_cast<size_t>(mode)].columns),
               static_cast<ull>(modes[static_cast<size_t>(mode)].rows));
    return kExitSuccess;
}

int select_by_size(const char* columns_text, const char* rows_text) {
    int64_t columns = 0, rows = 0;
    if (!parse_decimal_size(columns_text, &columns) || !parse_decimal_size(rows_text, &rows))
        return report_usage("mode");
    Vector<TextModeSize> modes;
    read_text_modes(&modes);
    const int64_t m = find_text_mode(modes.data(), modes.size(), static_cast<uint64_t>(columns),
                                     static_cast<uint64_t>(rows));
    if (m < 0)
        return report_error("mode", "no text mode with %lld columns and %lld rows (mode lists them)",
                            static_cast<long long>(columns), static_cast<long long>(rows));
    return select_mode(modes, m);
}

int select_largest() {
    Vector<TextModeSize> modes;
    read_text_modes(&modes);
    const int64_t m = largest_text_mode(modes.data(), modes.size());
    if (m < 0) return report_error("mode", "%s", status_message(efi::kUnsupported));
    return select_mode(modes, m);
}

// The console driver is restarted first: its text modes and the graphics output it draws
// on may be new afterwards, so both are read only then.
int fill_screen() {
    out_printf("Restarting the firmware console driver...\n");
    run_command_line("reconnect -r");
    efi::GraphicsOutput* gop = find_graphics_output();
    if (!gop || !gop->mode || !gop->mode->info) return report_error("mode", "no graphics output");
    const uint32_t width = gop->mode->info->horizontal_resolution;
    const uint32_t height = gop->mode->info->vertical_resolution;
    Vector<TextModeSize> modes;
    read_text_modes(&modes);
    const int64_t m = best_text_mode(modes.data(), modes.size(), width, height);
    if (m < 0) return report_error("mode", "no text mode fits %u x %u pixels", width, height);
    return select_mode(modes, m);
}

int mode_command(int count, char** vector) {
    ModeOptions o;
    const int first = parse_options(count, vector, kOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    const int operands = count - first;
    if ((o.max && o.fill) || ((o.max || o.fill) && operands) || (operands != 0 && operands != 2))
        return report_usage("mode");
    if (o.max) return select_largest();
    if (o.fill) return fill_screen();
    if (operands == 2) return select_by_size(vector[first], vector[first + 1]);
    return list_modes();
}

}  // namespace

void register_mode_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
