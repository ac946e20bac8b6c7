// The core command table.
#include "commands/core/core_commands.h"
#include "runtime/util.h"
#include "shell/registry.h"

namespace tarn {

namespace {

constexpr CommandDescriptor kCoreCommands[] = {
    {"help", help, "help [COMMAND | STATEMENT | FUNCTION | basic | functions]", "Show help",
     "  help              list the commands\n"
     "  help NAME         usage and details of a command\n"
     "  help basic        the TARN BASIC quick reference\n"
     "  help functions    the built-in functions of TARN BASIC\n"
     "  help WORD         the reference lines that mention a statement or function\n",
     0},
    {"ver", ver, "ver", "Show shell, firmware and UEFI versions",
     "  Prints the shell's version, the platform, the firmware vendor and revision,\n"
     "  the UEFI version and the Secure Boot state. -data gives one record.\n",
     kCommandStructuredOutput},
    {"cls", cls, "cls [BACKGROUND]", "Clear the screen",
     "  BACKGROUND 0-7 sets the background colour first: 0 black, 1 blue, 2 green, 3 cyan,\n"
     "  4 red, 5 magenta, 6 brown, 7 light gray.\n",
     0},
    {"exit", exit_command, "exit [/b] [CODE]", "Leave the shell and return to the firmware",
     "  exit CODE     leave the shell; the firmware gets CODE (low 8 bits) as an error status\n"
     "  exit /b CODE  end the running script with CODE (at the prompt: set lasterror)\n",
     kCommandOwnB},
    {"history", history_command, "history [-c] [N]", "Show the last N commands (-c clears the history)",
     "  The history is kept in tarn_history.txt on the boot volume (the last 500 lines).\n", 0},
    {"echo", echo, "echo [-n] [TEXT...]", "Print text (-n: no newline)", nullptr, kCommandOwnB},
    {"pause", pause, "pause [-q] [MESSAGE]", "Wait for a key",
     "  Ctrl-C or ESC gives exit code 130, any other key 0. -q shows no default message.\n", 0},
    {"sleep", sleep, "sleep MILLISECONDS", "Wait for the given time",
     "  Ctrl-C stops the wait (exit code 130).\n", 0},
    {"which", which, "which NAME...", "Show what a command name refers to",
     "  Looks for an alias, a built-in command, a script or EFI application on the path,\n"
     "  and a BASIC function, in that order.\n",
     0},
};

}  // namespace

void register_core_commands() { register_commands(kCoreCommands, array_size(kCoreCommands)); }

}  // namespace tarn
