// which: what a command name refers to.
#include "basic/functions.h"
#include "commands/core/core_commands.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/environment.h"
#include "shell/executor.h"
#include "shell/registry.h"

namespace tarn {

int which_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"which", which_command, "which NAME...", "Show what a command name refers to",
     "  Looks for an alias, a built-in command, a script or EFI application on the path,\n"
     "  and a BASIC function, in that order.\n",
     0},
};

}  // namespace

int which_command(int count, char** vector) {
    if (count < 2) return report_usage(vector[0]);
    int result = 0;
    for (int i = 1; i < count; i++) {
        const char* name = vector[i];
        if (const char* value = find_alias(name, nullptr)) {
            out_printf("%s: alias for %s\n", name, value);
            continue;
        }
        if (find_command(name)) {
            out_printf("%s: built-in command\n", name);
            continue;
        }
        if (Owned<char> path{find_executable(name)}) {
            out_printf("%s: %s\n", name, path.get());
            continue;
        }
        if (find_function(name)) {
            out_printf("%s: BASIC function\n", name);
            continue;
        }
        print_error("%s: not found\n", name);
        result = kExitNotFound;
    }
    return result;
}

void register_which_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
