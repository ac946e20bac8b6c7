// cls: clear the screen, optionally with a new background colour.
#include "commands/core/core_commands.h"
#include "runtime/console.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {

int cls_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"cls", cls_command, "cls [BACKGROUND]", "Clear the screen",
     "  BACKGROUND 0-7 sets the background colour first: 0 black, 1 blue, 2 green, 3 cyan,\n"
     "  4 red, 5 magenta, 6 brown, 7 light gray.\n",
     0},
};

}  // namespace

int cls_command(int count, char** vector) {
    if (count > 2) return report_usage(vector[0]);
    if (count == 2) {
        int64_t colour = 0;
        if (!parse_integer(vector[1], &colour) || colour < 0 || colour > 7) return report_usage(vector[0]);
        // The colour changes even while output is redirected; only the clearing is skipped.
        int32_t attribute = console_attribute();
        console_set_attribute(attribute & 0x0f, static_cast<int>(colour));
    }
    if (!is_redirected()) console_clear();
    return 0;
}

void register_cls_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
