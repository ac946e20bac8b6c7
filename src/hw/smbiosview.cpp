// smbiosview: walk the SMBIOS structure table and show or count its structures.
#include "hw/hw_commands.h"
#include "hw/phys_memory.h"
#include "hw/hw_common.h"
#include "hw/smbios_tables.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int smbiosview_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"smbiosview", smbiosview_command, "smbiosview [-t TYPE] [-h HANDLE] [-s]", "Show the SMBIOS structures",
     "  Shows each structure with the fields decoded for types 0, 1, 2, 3, 4, 16, 17 and 19.\n"
     "  -t TYPE     only structures of this type (decimal)\n"
     "  -h HANDLE   only the structure with this handle (hexadecimal)\n"
     "  -s          counts the structures by type instead\n",
     kCommandStructuredOutput},
};

struct SmbiosOptions {
    const char* type = nullptr;
    const char* handle = nullptr;
    bool statistics = false;
};

constexpr Option<SmbiosOptions> kOptions[] = {
    value_option("t", &SmbiosOptions::type),
    value_option("h", &SmbiosOptions::handle),
    switch_option("s", &SmbiosOptions::statistics),
    ignored_option<SmbiosOptions>("a"),
    ignored_option<SmbiosOptions>("b"),
};

bool parse_decimal(const char* text, uint64_t* value) {
    if (!text || !*text) return false;
    uint64_t v = 0;
    for (; *text; text++) {
        if (*text < '0' || *text > '9' || v > 100000) return false;
        v = v * 10 + static_cast<uint64_t>(*text - '0');
    }
    *value = v;
    return true;
}

void show_structure(const uint8_t* table, const SmbiosStructure& s) {
    if (data_mode()) {
        record_begin();
        record_field("type", "%u", s.type);
        record_field("typename", "%s", smbios_type_name(s.type));
        record_field("handle", "%04X", s.handle);
        record_field("length", "%u", s.length);
    } else {
        out_printf("Type %u (%s)  Handle 0x%04X  Length %u\n", s.type, smbios_type_name(s.type), s.handle, s.length);
    }
    print_smbios_fields(table, s);
}

int smbiosview_command(int count, char** vector) {
    SmbiosOptions o;
    const int first = parse_options(count, vector, kOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    uint64_t type = 0, handle = 0;
    if (first != count || (o.type && (!parse_decimal(o.type, &type) || type > 255)) ||
        (o.handle && (!parse_hex(o.handle, &handle) || handle > 0xffff)))
        return report_usage("smbiosview");
    SmbiosEntry e;
    if (!find_smbios_entry(&e)) return report_error("smbiosview", "no SMBIOS table found");
    const uint32_t length = e.length > kSmbiosMaxTableLength ? kSmbiosMaxTableLength : e.length;
    Owned<uint8_t> table(static_cast<uint8_t*>(xallocate(length ? length : 1)));
    if (!read_physical(e.table, table.get(), length))
        return report_error("smbiosview", "cannot read the SMBIOS table at %llx", static_cast<unsigned long long>(e.table));
    if (!data_mode()) {
        const void* at = reinterpret_cast<const void*>(static_cast<uintptr_t>(e.entry_address));
        if (e.is64) out_printf("SMBIOS %u.%u (64-bit entry point at %p)\n", e.major, e.minor, at);
        else out_printf("SMBIOS %u.%u (32-bit entry point at %p), %u structures\n", e.major, e.minor, at, e.count);
    }
    uint32_t counts[256] = {};
    SmbiosStructure s;
    for (uint64_t offset = 0; smbios_structure_at(table.get(), length, offset, &s); offset = s.next) {
        if (poll_break()) return kExitInterrupted;
        counts[s.type]++;
        const bool shown = !o.statistics && (!o.type || s.type == type) && (!o.handle || s.handle == handle);
        if (shown) show_structure(table.get(), s);
        if (s.type == 127) break;
    }
    if (!o.statistics) return 0;
    if (!data_mode()) out_text("Type  Count  Name\n");
    for (int t = 0; t < 256; t++) {
        if (!counts[t]) continue;
        if (data_mode()) {
            record_begin();
            record_field("type", "%d", t);
            record_field("count", "%u", counts[t]);
            record_field("typename", "%s", smbios_type_name(static_cast<uint8_t>(t)));
        } else {
            out_printf("%4d  %5u  %s\n", t, counts[t], smbios_type_name(static_cast<uint8_t>(t)));
        }
    }
    return 0;
}

}  // namespace

void register_smbiosview_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
