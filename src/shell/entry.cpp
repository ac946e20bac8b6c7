#include "shell/entry.h"
#include "runtime/firmware.h"

namespace tarn {

efi::Status entry(efi::Handle image, efi::SystemTable* st) {
    attach_firmware(image, st);
    st->con_out->output_string(st->con_out, u"TARN toolchain check\r\n");
    return 0;
}

}  // namespace tarn
