#include "boot/boot_module.h"

namespace tarn {

void register_boot_module() {
    register_bootmgr_command();
    register_bcfg_command();
    register_boot_functions();
}

}  // namespace tarn
