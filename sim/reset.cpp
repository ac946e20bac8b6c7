#include "sim_internal.h"

#include "runtime/firmware.h"
#include "runtime/output.h"

namespace sim {

void reset_tarn_state() {
    tarn::reset_firmware();
    tarn::reset_output_state();
}

}  // namespace sim
