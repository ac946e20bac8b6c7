#include "sim_internal.h"

namespace sim {

void install_variable_store(SimFirmware&) {}
void remove_variable_store(SimFirmware&) {}

}  // namespace sim
