// The file management commands: each file registers its own rows.
#include "commands/files/file_commands.h"

namespace tarn {

void register_file_commands() {
    register_map_command();
    register_cd_commands();
    register_ls_commands();
    register_copy_move_commands();
    register_remove_make_commands();
    register_touch_command();
    register_vol_command();
    register_attrib_command();
    register_stat_commands();
}

void register_disk_clock_commands() {
    register_dblk_command();
    register_clock_commands();
}

}  // namespace tarn
