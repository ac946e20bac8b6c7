// The console hook: while a started image runs with the shell's output redirected, the
// system table's ConOut is the shell's own text-output protocol, which writes into the
// redirection target. The shell's own console keeps using the real protocol.
#pragma once
#include "uefi/console.h"

namespace tarn {

// One more image starts with output redirected; the first installs the hook.
void console_hook_enter();
// That image has returned; the last one puts the real ConOut back.
void console_hook_leave();
// How many hooked launches are running.
int console_hook_depth();
// The shell's protocol instance (for tests).
efi::SimpleTextOutput* console_hook_protocol();

// Host tests: puts the real console back and forgets the counter.
void reset_console_hook();

}  // namespace tarn
