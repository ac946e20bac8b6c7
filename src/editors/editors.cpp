// Registration of the editors.
#include "editors/editors.h"

namespace tarn {

void register_editor_commands() {
    register_edit_command();
}

}  // namespace tarn
