#include "vars/vars_module.h"

namespace tarn {

void register_variables_module() {
    register_var_command();
    register_dmpstore_command();
    register_setvar_command();
    register_variable_functions();
}

}  // namespace tarn
