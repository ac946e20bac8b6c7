// The text commands: each file registers its own rows.
#include "commands/files/text_commands.h"

namespace tarn {

void register_text_commands() {
    register_cat_commands();
    register_comp_commands();
    register_grep_command();
    register_hexdump_command();
    register_head_tail_commands();
    register_wc_command();
    register_parse_command();
}

}  // namespace tarn
