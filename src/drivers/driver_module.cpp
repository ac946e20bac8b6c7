#include "drivers/driver_commands.h"

namespace tarn {

void register_driver_commands() {
    register_driver_view_commands();
}

}  // namespace tarn
