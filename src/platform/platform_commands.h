// The platform commands: memmap, reset, sysinfo.
#pragma once

namespace tarn {

// Registers the platform command table.
void register_platform_commands();

// The platform module: its command table, then the Shell protocol for started
// applications, then the variable, boot, driver, disk and clock, hardware and network
// modules, in that order.
void register_platform_module();

// One routine per command file.
void register_memmap_command();
void register_reset_command();
void register_sysinfo_command();

}  // namespace tarn
