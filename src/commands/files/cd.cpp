// cd and pwd: the one current directory.
#include "commands/files/file_commands.h"
#include "fs/volumes.h"
#include "runtime/output.h"
#include "shell/registry.h"

namespace tarn {

int cd_command(int count, char** vector);
int pwd_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"cd", cd_command, "cd [DIR | fsN:]", "Change the current directory",
     "  Without an argument prints the current directory. There is one current directory\n"
     "  for all volumes.\n",
     0},
    {"pwd", pwd_command, "pwd", "Print the current directory", nullptr, 0},
};

}  // namespace

int cd_command(int count, char** vector) {
    const char* name = "cd";
    if (count > 2) return report_usage(name);
    if (count == 1) {
        out_printf("%s\n", current_directory());
        return 0;
    }
    ShellError err = change_directory(vector[1]);
    if (err != kOk) return report_failure(name, vector[1], err);
    return 0;
}

int pwd_command(int count, char** vector) {
    if (count > 1) return report_usage("pwd");
    out_printf("%s\n", current_directory());
    return 0;
}

void register_cd_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
