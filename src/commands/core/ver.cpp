// ver: the shell's version and the firmware block.
#include "commands/core/core_commands.h"
#include "platform/firmware_info.h"
#include "runtime/output.h"

namespace tarn {

int ver(int count, char** vector) {
    if (count > 1) return report_usage(vector[0]);
    if (data_mode()) {
        record_begin();
        record_field("shell", "%s", "TARN");
        record_field("version", "%s", "0.2.1");
        record_field("platform", "%s", "UEFI x86_64");
    } else {
        out_printf("%s %s - Tarnwick\n", "TARN", "0.2.1");
        out_printf("Platform: %s\n", "UEFI x86_64");
    }
    print_firmware_block();
    return 0;
}

}  // namespace tarn
