// echo: print words.
#include "commands/core/core_commands.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {

int echo_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"echo", echo_command, "echo [-n] [TEXT...]", "Print text (-n: no newline)", nullptr, kCommandOwnB},
};

}  // namespace

int echo_command(int count, char** vector) {
    if (count < 2) {
        out_text("\n");
        return 0;
    }
    if (count == 2 && (equal_nocase(vector[1], "-on") || equal_nocase(vector[1], "-off") || equal(vector[1], "-n")))
        return 0;
    int first = 1;
    bool newline = true;
    if (equal(vector[1], "-n")) {
        newline = false;
        first = 2;
    }
    for (int i = first; i < count; i++) {
        if (i > first) out_text(" ");
        out_text(vector[i]);
    }
    if (newline) out_text("\n");
    return 0;
}

void register_echo_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
