// The variables module: var, dmpstore, setvar and the BASIC variable functions.
#pragma once

namespace tarn {

// Registers every command and BASIC function table of the module.
void register_variables_module();

void register_var_command();
void register_variable_functions();
void register_dmpstore_command();
void register_setvar_command();

}  // namespace tarn
