#include "uefi/tables.h"
extern "C" tarn::efi::Status EFIAPI launcher_main(tarn::efi::Handle, tarn::efi::SystemTable*) { return 0; }
