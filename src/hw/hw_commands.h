// The hardware inspection commands.
#pragma once

namespace tarn {

// Registers every command of the hardware module.
void register_hw_commands();

// One routine per command file.
void register_dmem_command();
void register_mm_command();
void register_pci_command();
void register_acpiview_command();
void register_smbiosview_command();
void register_cpuid_command();
void register_sermode_command();
void register_loadpcirom_command();
void register_mode_command();
void register_gop_command();

}  // namespace tarn
