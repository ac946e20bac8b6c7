// cd and pwd: the one current directory.
#include "commands/files/file_commands.h"
#include "fs/volumes.h"
#include "runtime/output.h"

namespace tarn {

int cd(int count, char** vector) {
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

int pwd(int count, char** vector) {
    if (count > 1) return report_usage("pwd");
    out_printf("%s\n", current_directory());
    return 0;
}

}  // namespace tarn
