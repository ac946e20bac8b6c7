#include "platform/platform_commands.h"

namespace tarn {

void register_platform_commands() {
    register_reset_command();
    register_memmap_command();
    register_sysinfo_command();
}

}  // namespace tarn
