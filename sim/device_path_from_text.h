// The Device Path From Text protocol of the simulated firmware, for the nodes the
// simulated machine has: PciRoot(UID), Pci(Device,Function) and Path(Type,SubType,HEX).
// Numbers are decimal or 0x hexadecimal, as the firmware reads them. Text it does not
// know gives null. Installed only by the tests that want it.
#pragma once
#include "sim.h"

namespace sim {

void install_device_path_from_text(SimFirmware& fw);

}  // namespace sim
