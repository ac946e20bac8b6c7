// The file management commands: map, cd, pwd, ls, dir, cp, mv, rm, del, mkdir, md,
// rmdir, touch, vol, attrib, setsize, stat.
#pragma once
#include <stdint.h>

namespace tarn {

int map_command(int count, char** vector);
int cd(int count, char** vector);
int pwd(int count, char** vector);
int ls(int count, char** vector);
int dir(int count, char** vector);  // ls with the long form always on
int cp(int count, char** vector);
int mv(int count, char** vector);
int rm(int count, char** vector);   // also del
int mkdir(int count, char** vector);  // also md
int rmdir(int count, char** vector);
int touch(int count, char** vector);
int vol(int count, char** vector);
int attrib(int count, char** vector);
int setsize(int count, char** vector);
int stat_command(int count, char** vector);

// Registers the file management command table.
void register_file_commands();

}  // namespace tarn
