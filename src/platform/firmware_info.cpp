#include "platform/firmware_info.h"

#include "platform/secure_boot.h"
#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/text.h"

namespace tarn {

void format_uefi_version(uint32_t revision, char* out, uint64_t size) {
    uint32_t major = revision >> 16;
    uint32_t minor = revision & 0xffff;
    if (minor % 10 != 0)
        format_into(out, size, "%u.%u.%u", major, minor / 10, minor % 10);
    else
        format_into(out, size, "%u.%u", major, minor / 10);
}

void print_firmware_block() {
    efi::SystemTable* st = firmware().system_table;
    char* vendor = ucs2_to_utf8(st && st->firmware_vendor ? st->firmware_vendor : u"");
    uint32_t revision = st ? st->firmware_revision : 0;
    if (data_mode()) {
        record_field("firmware", "%s", vendor);
        record_field("firmware_revision", "0x%08x", revision);
    } else {
        out_printf("Firmware: %s (revision 0x%08x)\n", vendor, revision);
    }
    release(vendor);
    char version[32];
    format_uefi_version(st ? st->hdr.revision : 0, version, sizeof version);
    labeled_value(0, 9, "UEFI", "%s", version);
    bool active = secure_boot_active();
    if (data_mode())
        record_field("secure_boot", "%s", active ? "yes" : "no");
    else
        labeled_value(0, 9, "Secure Boot", "%s", active ? "active" : "inactive");
}

}  // namespace tarn
