#include "drivers/driver_commands.h"

namespace tarn {

void register_driver_commands() {
    register_driver_view_commands();
    register_driver_control_commands();
    register_driver_setup_commands();
}

}  // namespace tarn
