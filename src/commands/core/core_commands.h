// The core commands: help, ver, cls, exit, history, echo, pause, sleep, which.
#pragma once
#include <stdint.h>

namespace tarn {

// Registers the core command table.
void register_core_commands();
// Module routines of set and alias, registered after the file commands.
void register_set_command();
void register_alias_command();

// One routine per command file; each registers that file's rows.
void register_help_command();
// help keys, help syntax: prints the topic and returns true, or false for another word.
bool show_help_topic(const char* topic);
void register_ver_command();
void register_cls_command();
void register_exit_command();
void register_history_command();
void register_echo_command();
void register_pause_commands();
void register_which_command();

// Whether `line` mentions `word` as a whole word (see help).
bool line_mentions(const char* line, uint64_t length, const char* word);

}  // namespace tarn
