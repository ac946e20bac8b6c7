#include "app/modules.h"

#include "basic/functions.h"
#include "commands/core/core_commands.h"
#include "commands/files/file_commands.h"
#include "commands/files/text_commands.h"
#include "compress/compress_commands.h"
#include "editors/editors.h"
#include "images/images.h"
#include "platform/platform_commands.h"
#include "runtime/output.h"
#include "shell/registry.h"

namespace tarn {

void register_modules() {
    set_usage_lookup(usage_of);

    // The order is fixed: BASIC functions first (other modules add their own after),
    // then the command tables; the registry keeps the commands sorted by name.
    register_basic_functions();
    register_core_commands();  // help, ver, cls, exit, history, echo, pause, sleep, which
    register_file_commands();  // files and volumes
    register_text_commands();  // cat, grep, hexdump, head, tail, wc, comp, parse, ...
    register_compress_commands();
    register_editor_commands();  // edit, hexedit
    register_set_command();
    register_alias_command();
    register_images_module();  // the runner of EFI applications
    register_platform_module();  // memmap, reset, sysinfo, the Shell protocol, then the rest
}

}  // namespace tarn
