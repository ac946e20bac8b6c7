// The file management commands: map, cd, pwd, ls, dir, cp, mv, rm, del, mkdir, md,
// rmdir, touch, vol, attrib, setsize, stat; and the clock and disk tools: date, time,
// timezone, getmtc, stall, dblk.
#pragma once
#include <stdint.h>

namespace tarn {

// Registers the file management command table.
void register_file_commands();

// The disk and clock tools (dblk and the clock commands), registered by the
// platform module after the driver commands.
void register_disk_clock_commands();

// One routine per command file; each registers that file's rows.
void register_map_command();
void register_cd_commands();
void register_ls_commands();
void register_copy_move_commands();
void register_remove_make_commands();
void register_touch_command();
void register_vol_command();
void register_attrib_command();
void register_stat_commands();
void register_clock_commands();
void register_dblk_command();

}  // namespace tarn
