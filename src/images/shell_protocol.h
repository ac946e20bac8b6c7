// The UEFI Shell protocol offered to started applications, on top of the shell's own
// environment, aliases, current directory, command execution and file handles.
#pragma once
#include "uefi/shell.h"

namespace tarn {

// Creates the ExecutionBreak event and its Ctrl-C key notifications, then replaces an
// existing Shell protocol (kept to be put back) or installs ours on the shell's handle.
// The exit hook undoes it.
void install_shell_protocol();
void uninstall_shell_protocol();
efi::ShellProtocol* shell_protocol();

}  // namespace tarn
