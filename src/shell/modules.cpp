#include "shell/modules.h"

#include "runtime/output.h"
#include "shell/registry.h"
#include "basic/functions.h"
#include "commands/core/core_commands.h"
#include "commands/files/file_commands.h"
#include "commands/files/text_commands.h"
#include "vars/vars_module.h"

namespace tarn {

void register_modules() {
    set_usage_lookup(usage_of);

    // 1. BASIC built-in functions.
    register_basic_functions();

    // 2. Core commands: help, ver, cls, exit, history, echo, pause, sleep, which.
    register_core_commands();

    // 3. File commands: map, cd, pwd, ls, dir, more, cat, type, cp, mv, rm, del, mkdir,
    //    md, rmdir, touch, vol, attrib, comp, cmp, setsize, stat.
    register_file_commands();
    register_text_commands();

    // 4. Text and clock commands: grep, hexdump, head, tail, wc, date, time.

    // 5. Miscellaneous: stall, parse, eficompress, efidecompress.

    // 6. Editors: edit, hexedit.

    // 7. and 8.
    register_set_command();
    register_alias_command();

    // 9. Platform: reset, memmap, sysinfo; then the UEFI Shell protocol support and its
    //    exit hook; then the variables module (var, dmpstore, setvar and its BASIC
    //    functions), the boot module (bcfg, bootmgr and its BASIC functions), the driver
    //    module, the disk and clock tools (dblk, timezone, getmtc), the hardware module
    //    and the network module.
    register_variables_module();
}

}  // namespace tarn
