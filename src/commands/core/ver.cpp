// ver: the shell's version and the firmware block.
#include "commands/core/core_commands.h"
#include "platform/firmware_info.h"
#include "runtime/output.h"
#include "shell/registry.h"

namespace tarn {

int ver_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"ver", ver_command, "ver", "Show shell, firmware and UEFI versions",
     "  Prints the shell's version, the platform, the firmware vendor and revision,\n"
     "  the UEFI version and the Secure Boot state. -data gives one record.\n",
     kCommandStructuredOutput},
};

}  // namespace

int ver_command(int count, char** vector) {
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

void register_ver_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
