#include "sim_internal.h"

#include "drivers/handle_table.h"
#include "fs/volumes.h"
#include "runtime/exit.h"
#include "runtime/firmware.h"
#include "runtime/output.h"
#include "shell/environment.h"
#include "shell/executor.h"
#include "shell/hooks.h"
#include "shell/registry.h"

namespace sim {

void reset_tarn_state() {
    tarn::reset_firmware();
    tarn::reset_output_state();
    tarn::set_exit_hook(nullptr);
    tarn::reset_fs_state();
    tarn::reset_handle_table();
    tarn::reset_registry();
    tarn::reset_executor_state();
    tarn::reset_hooks();
    tarn::reset_environment();
}

}  // namespace sim
