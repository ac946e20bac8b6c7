// The shell's main routine and the interactive session.
#include "runtime/console.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/entry.h"

namespace tarn {

namespace {

constexpr const char kUsage[] =
    "usage: tarn [-n] [-c CODE] [-k SCRIPT...] [SCRIPT [ARGS...]]\n"
    "  -c CODE   run BASIC code and exit\n"
    "  -k        check the syntax of scripts without running them\n"
    "  -n        do not run startup.tsb\n";

void print_banner() {
    int32_t saved = console_attribute();
    console_set_attribute(15, (saved >> 4) & 7);
    out_printf("%s %s", "TARN", "0.2.1");
    console_set_raw_attribute(saved);
    out_printf(" - Tarnwick (%s)\n", "UEFI x86_64");
    out_text("Type 'help' for the commands, 'help basic' for the scripting language.\n");
    out_text("\n");
}

}  // namespace

int shell_main(int count, char** vector) {
    for (int i = 1; i < count; i++) {
        if (equal(vector[i], "-n")) continue;
        if (equal(vector[i], "-h") || equal(vector[i], "--help")) {
            out_text(kUsage);
            return 0;
        }
        break;
    }
    print_banner();
    out_text("The interactive session is not built yet: press any key to leave.\n");
    press_any_key(nullptr);
    return 0;
}

}  // namespace tarn
