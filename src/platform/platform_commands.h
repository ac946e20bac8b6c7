// The platform commands: memmap, reset, sysinfo.
#pragma once

namespace tarn {

// Registers the platform command table.
void register_platform_commands();

// One routine per command file.
void register_memmap_command();
void register_reset_command();
void register_sysinfo_command();

}  // namespace tarn
