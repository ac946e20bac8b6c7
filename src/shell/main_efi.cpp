// The firmware entry symbol of tarn.efi.
#include "shell/entry.h"

#ifndef TARN_NO_EFI_MAIN
extern "C" tarn::efi::Status EFIAPI efi_main(tarn::efi::Handle image, tarn::efi::SystemTable* st) {
    return tarn::entry(image, st);
}
#endif
