#include "platform/platform_commands.h"

#include "boot/boot_module.h"
#include "commands/files/file_commands.h"
#include "drivers/driver_commands.h"
#include "hw/hw_commands.h"
#include "images/shell_protocol.h"
#include "net/net_commands.h"
#include "vars/vars_module.h"

namespace tarn {

void register_platform_commands() {
    register_reset_command();
    register_memmap_command();
    register_sysinfo_command();
}

void register_platform_module() {
    register_platform_commands();
    // Applications started from here on find the Shell protocol; its removal is the
    // shell's exit hook, so a parent shell gets its own protocol back.
    install_shell_protocol();
    // The modules below add BASIC functions too; their order is the function order.
    register_variables_module();  // var, dmpstore, setvar and the variable functions
    register_boot_module();       // bootmgr, bcfg and the boot functions
    register_driver_commands();   // dh, drivers, devices, ..., connect, load, drvcfg, drvdiag
    register_disk_clock_commands();
    register_hw_commands();   // pci, mm, dmem, acpiview, smbiosview, cpuid, sermode, mode, gop, loadpcirom
    register_net_commands();  // ifconfig, ifconfig6, ping, ping6, tftp, http
}

}  // namespace tarn
