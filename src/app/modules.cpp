#include "app/modules.h"

#include "basic/functions.h"
#include "boot/boot_module.h"
#include "commands/core/core_commands.h"
#include "commands/files/file_commands.h"
#include "commands/files/text_commands.h"
#include "compress/compress_commands.h"
#include "drivers/driver_commands.h"
#include "editors/editors.h"
#include "hw/hw_commands.h"
#include "images/images.h"
#include "net/net_commands.h"
#include "platform/platform_commands.h"
#include "runtime/output.h"
#include "shell/registry.h"
#include "vars/vars_module.h"

namespace tarn {

void register_modules() {
    set_usage_lookup(usage_of);

    // The order is fixed: BASIC functions first (other modules add their own after),
    // then the command tables; the registry keeps the commands sorted by name.
    register_basic_functions();
    register_core_commands();  // help, ver, cls, exit, history, echo, pause, sleep, which
    register_file_commands();  // files, volumes, the clock and disk tools
    register_text_commands();  // cat, grep, hexdump, head, tail, wc, comp, parse, ...
    register_compress_commands();
    register_set_command();
    register_alias_command();
    register_variables_module();  // var and its BASIC functions
    register_hw_commands();  // pci, mm, dmem, acpiview, smbiosview
    register_boot_module();  // bootmgr, bcfg and the BASIC boot functions
    register_driver_commands();  // dh, drivers, devices, ..., connect, load, drvcfg, drvdiag
    register_images_module();  // the runner of EFI applications
    register_net_commands();  // ifconfig, ping, tftp, http
    register_editor_commands();  // edit, hexedit
    register_platform_commands();  // memmap, reset, sysinfo
}

}  // namespace tarn
