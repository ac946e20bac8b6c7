// The full-screen editors: edit and hexedit.
#pragma once

namespace tarn {

// Registers both editors.
void register_editor_commands();

// One routine per command file.
void register_edit_command();
void register_hexedit_command();

}  // namespace tarn
