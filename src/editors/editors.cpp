// Registration of the editors.
#include "editors/editors.h"

namespace tarn {

void register_editor_commands() {
    register_edit_command();
    register_hexedit_command();
}

}  // namespace tarn
