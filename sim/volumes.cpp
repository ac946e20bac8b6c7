#include "sim_internal.h"

namespace sim {

void install_storage(SimFirmware&) {}
void remove_storage(SimFirmware&) {}

}  // namespace sim
