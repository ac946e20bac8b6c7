#include "hw/config_tables.h"

#include "runtime/firmware.h"
#include "runtime/strings.h"

namespace tarn {

uint64_t configuration_table_address(const efi::Guid& guid) {
    const efi::SystemTable* st = firmware().system_table;
    if (!st || !st->configuration_table) return 0;
    for (uint64_t i = 0; i < st->number_of_table_entries; i++) {
        const efi::ConfigurationTable& t = st->configuration_table[i];
        if (memcmp(&t.vendor_guid, &guid, sizeof guid) == 0) return reinterpret_cast<uintptr_t>(t.vendor_table);
    }
    return 0;
}

}  // namespace tarn
