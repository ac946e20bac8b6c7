#include "runtime/firmware.h"

namespace tarn {

namespace {
constinit FirmwareContext g_firmware{};
}

FirmwareContext& firmware() { return g_firmware; }

void attach_firmware(efi::Handle image, efi::SystemTable* system_table) {
    g_firmware = FirmwareContext{};
    g_firmware.image = image;
    g_firmware.system_table = system_table;
    g_firmware.boot = system_table ? system_table->boot_services : nullptr;
    g_firmware.runtime = system_table ? system_table->runtime_services : nullptr;
}

void reset_firmware() { g_firmware = FirmwareContext{}; }

}  // namespace tarn
