// The core commands: help, ver, cls, exit, history, echo, pause, sleep, which.
#pragma once
#include <stdint.h>

namespace tarn {

int help(int count, char** vector);
int ver(int count, char** vector);
int cls(int count, char** vector);
int exit_command(int count, char** vector);
int history_command(int count, char** vector);
int echo(int count, char** vector);
int pause(int count, char** vector);
int sleep(int count, char** vector);
int which(int count, char** vector);

// Registers the core command table.
void register_core_commands();
// Module routines of set and alias, registered after the file commands.
void register_set_command();
void register_alias_command();

// Whether `line` mentions `word` as a whole word (see help).
bool line_mentions(const char* line, uint64_t length, const char* word);

}  // namespace tarn
