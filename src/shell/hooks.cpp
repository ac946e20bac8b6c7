#include "shell/hooks.h"

#include "runtime/errors.h"
#include "runtime/output.h"

namespace tarn {
namespace {

struct Hooks {
    FileRunner script_runner;
    FileRunner image_runner;
};

constinit Hooks g_hooks = {nullptr, nullptr};

}  // namespace

void set_script_runner(FileRunner runner) { g_hooks.script_runner = runner; }
void set_image_runner(FileRunner runner) { g_hooks.image_runner = runner; }

int dispatch_script(const char* path, int count, char** vector) {
    if (!g_hooks.script_runner)
        return report_error(path, "%s", "cannot run the script: the BASIC interpreter is not available");
    return g_hooks.script_runner(path, count, vector);
}

int dispatch_image(const char* path, int count, char** vector) {
    if (!g_hooks.image_runner)
        return report_error(path, "%s", "cannot start the image: the image launcher is not available");
    return g_hooks.image_runner(path, count, vector);
}

void reset_hooks() { g_hooks = {nullptr, nullptr}; }

}  // namespace tarn
