#include "sim_internal.h"

#include "basic/engine.h"
#include "basic/functions.h"
#include "drivers/handle_table.h"
#include "drivers/protocol_names.h"
#include "fs/volumes.h"
#include "images/images.h"
#include "platform/secure_boot.h"
#include "runtime/exit.h"
#include "runtime/firmware.h"
#include "runtime/output.h"
#include "runtime/terminal.h"
#include "shell/environment.h"
#include "shell/executor.h"
#include "shell/history.h"
#include "shell/hooks.h"
#include "shell/registry.h"
#include "shell/session_state.h"

namespace sim {

// Modules free what they hold through the firmware's pool, so the firmware context is
// forgotten last.
void reset_tarn_state() {
    tarn::reset_output_state();
    tarn::reset_terminal_state();
    tarn::set_exit_hook(nullptr);
    tarn::reset_fs_state();
    tarn::reset_handle_table();
    tarn::reset_protocol_names();
    tarn::reset_registry();
    tarn::reset_function_registry();
    tarn::reset_basic_state();
    tarn::reset_executor_state();
    tarn::reset_hooks();
    tarn::reset_environment();
    tarn::reset_history_state();
    tarn::reset_session_state();
    tarn::reset_secure_boot_state();
    tarn::reset_images_state();
    tarn::reset_firmware();
}

}  // namespace sim
