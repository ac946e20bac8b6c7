#include "hw/hw_commands.h"

namespace tarn {

void register_hw_commands() {
    register_pci_command();
    register_mm_command();
    register_dmem_command();
    register_acpiview_command();
    register_smbiosview_command();
    register_cpuid_command();
    register_sermode_command();
    register_loadpcirom_command();
    register_mode_command();
    register_gop_command();
}

}  // namespace tarn
