// The command history: the newest 500 lines typed at the prompt, kept in memory and
// appended to "tarn_history.txt" in the root of the volume the shell was loaded from.
#pragma once
#include "runtime/errors.h"
#include "runtime/util.h"

namespace tarn {

constexpr uint64_t kHistoryLimit = 500;
constexpr const char* kHistoryFileName = "tarn_history.txt";

// The list is read from the history file at the first call of any of these.
// An empty line, or one equal to the newest entry, is ignored; otherwise the line is
// appended to the list (dropping the oldest at 500) and to the file.
void history_add(const char* line);
uint64_t history_count();
// 0 is the oldest entry; null outside 0..history_count()-1.
const char* history_entry(uint64_t index);
// Empties the list and truncates the file.
void history_clear();

// How the history reaches its file. The file layer installs these at start-up; until
// then (and in tests that install none) the history lives in memory only.
struct HistoryFileOps {
    // The name of the boot volume without its colon ("fs0"), or null when unknown.
    const char* (*boot_volume)();
    // The whole file in a new buffer (freed with release); data need not end in a NUL.
    ShellError (*read)(const char* path, char** data, uint64_t* length);
    // Appends bytes at the end of the file, creating it.
    ShellError (*append)(const char* path, const char* bytes, uint64_t n);
    // Cuts the file to zero bytes (creating it is allowed).
    ShellError (*truncate)(const char* path);
};
void set_history_file_ops(const HistoryFileOps* ops);
// The history file's path, or "" while none is known (not loaded, no boot volume, or
// forgotten after a failed write).
const char* history_file_path();

// Host tests: back to the start-up state (the list is freed while a firmware is attached).
void reset_history_state();

}  // namespace tarn
