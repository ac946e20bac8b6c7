// The boot configuration module: bootmgr, bcfg and the BASIC boot functions.
#pragma once

namespace tarn {

// Registers every command and BASIC function table of the module.
void register_boot_module();

void register_bootmgr_command();
void register_bcfg_command();
void register_boot_functions();

}  // namespace tarn
