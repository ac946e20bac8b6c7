// The core commands: each file registers its own rows.
#include "commands/core/core_commands.h"

namespace tarn {

void register_core_commands() {
    register_help_command();
    register_ver_command();
    register_cls_command();
    register_exit_command();
    register_history_command();
    register_echo_command();
    register_pause_commands();
    register_which_command();
}

}  // namespace tarn
