// The firmware entry symbol of tarn.efi. Only tarn.efi links this file: the test
// programs of the firmware build share every other object and bring their own entry.
#include "app/entry.h"

extern "C" tarn::efi::Status EFIAPI efi_main(tarn::efi::Handle image, tarn::efi::SystemTable* st) {
    return tarn::entry(image, st);
}
