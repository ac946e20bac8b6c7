// How the parts of the simulated firmware meet. The core (sim_core.cpp) builds the
// tables and the handle database, then asks each capability to install itself.
#pragma once
#include "sim.h"

namespace sim {

// sim/variables.cpp: the variable store behind GetVariable, GetNextVariableName,
// SetVariable and QueryVariableInfo.
void install_variable_store(SimFirmware& fw);
void remove_variable_store(SimFirmware& fw);

// sim/volumes.cpp: Simple File System, File, Block I/O, device paths and
// Device Path To Text.
void install_storage(SimFirmware& fw);
void remove_storage(SimFirmware& fw);

// sim/drivers.cpp: ConnectController and DisconnectController over the Driver Binding
// protocols installed in the handle database.
efi::Status connect_drivers(SimFirmware& fw, efi::Handle controller, efi::Handle* drivers,
                            efi::DevicePath* remaining, bool recursive);
efi::Status disconnect_drivers(SimFirmware& fw, efi::Handle controller, efi::Handle driver,
                               efi::Handle child);

// Brings every module of the shell back to its start-up state (host tests run many
// programs in one process). Each module with program-wide state adds its reset here.
void reset_tarn_state();

}  // namespace sim
