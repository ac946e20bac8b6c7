// acpiview: list the ACPI tables, show one with its summary and dump, or save it.
#include "fs/files.h"
#include "fs/paths.h"
#include "hw/acpi_tables.h"
#include "hw/hw_commands.h"
#include "hw/hw_common.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int acpiview_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"acpiview", acpiview_command, "acpiview [-l] | acpiview -s SIG [-d]", "List or show ACPI tables",
     "  -l       lists the tables with their checksums (the default)\n"
     "  -s SIG   shows the tables with that signature: a summary for APIC, MCFG, HPET\n"
     "           and FACP, then a dump\n"
     "  -d       with -s, saves each table to SIG.bin, SIG2.bin... in the current directory\n",
     kCommandStructuredOutput},
};

struct AcpiOptions {
    bool list = false;
    const char* signature = nullptr;
    bool save = false;
};

constexpr Option<AcpiOptions> kOptions[] = {
    switch_option("l", &AcpiOptions::list),
    value_option("s", &AcpiOptions::signature),
    switch_option("d", &AcpiOptions::save),
    ignored_option<AcpiOptions>("r"),
    ignored_option<AcpiOptions>("q"),
    ignored_option<AcpiOptions>("h"),
};

void print_line(const AcpiTable& t) {
    const void* at = reinterpret_cast<const void*>(static_cast<uintptr_t>(t.address));
    if (data_mode()) {
        record_begin();
        record_field("signature", "%s", t.signature);
        record_field("address", "0x%llX", static_cast<unsigned long long>(t.address));
        record_field("length", "%u", t.length);
        if (t.facs || !t.readable || t.bad_length) {
            record_field("checksum", "%s", t.facs && !t.bad_length ? "none" : "bad");
            return;
        }
        record_field("revision", "%u", t.revision);
        record_field("oemid", "%s", t.oem_id);
        record_field("oemtable", "%s", t.oem_table);
        record_field("checksum", "%s", t.checksum_ok ? "ok" : "bad");
        return;
    }
    if (!t.readable) out_printf("  %-4s  %p  cannot be read\n", t.signature, at);
    else if (t.bad_length) out_printf("  %-4s  %p  %6u  bad length\n", t.signature, at, t.length);
    else if (t.facs) out_printf("  %-4s  %p  %6u  FACS\n", t.signature, at, t.length);
    else
        out_printf("  %-4s  %p  %6u  rev %-2u  %.6s  %.8s  %s\n", t.signature, at, t.length, t.revision, t.oem_id,
                   t.oem_table, t.checksum_ok ? "checksum ok" : "BAD CHECKSUM");
}

int show_tables(const AcpiList& list, const char* sig, bool save) {
    int matches = 0, code = 0;
    for (int i = 0; i < list.count; i++) {
        const AcpiTable& t = list.tables[i];
        if (!equal_nocase(t.signature, sig)) continue;
        matches++;
        print_line(t);
        uint8_t* bytes = nullptr;
        if (!read_acpi_table(t, &bytes)) continue;
        Owned<uint8_t> owner(bytes);
        if (save) {
            char name[24];
            if (matches == 1) format_into(name, sizeof name, "%s.bin", t.signature);
            else format_into(name, sizeof name, "%s%d.bin", t.signature, matches);
            Owned<char> path(resolve_path(name));
            ShellError e = path ? write_whole_file(path.get(), bytes, t.length) : kErrNotFound;
            if (e != kOk) code = report_failure("acpiview", name, e);
            else out_printf("  saved to %s\n", name);
            continue;
        }
        if (data_mode()) continue;
        print_acpi_summary(t.signature, bytes, t.length);
        if (!hex_dump(bytes, t.length, 0)) return kExitInterrupted;
    }
    if (!matches) return report_error("acpiview", "table %s not found (acpiview lists them)", sig);
    return code;
}

int acpiview_command(int count, char** vector) {
    AcpiOptions o;
    const int first = parse_options(count, vector, kOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    if (first != count || (o.save && !o.signature)) return report_usage("acpiview");
    if (o.save && data_mode()) return report_error("acpiview", "-d cannot be used with -data");
    Owned<AcpiList> list(static_cast<AcpiList*>(xallocate(sizeof(AcpiList))));
    *list.get() = AcpiList{};
    if (!build_acpi_list(find_rsdp(), list.get()) || list.get()->count == 0)
        return report_error("acpiview", "no ACPI tables found");
    const AcpiList& l = *list.get();
    if (o.signature) return show_tables(l, o.signature, o.save);
    if (!data_mode()) {
        out_printf("RSDP at %p, revision %u, OEM %.6s\n", reinterpret_cast<const void*>(static_cast<uintptr_t>(l.rsdp)),
                   l.rsdp_revision, l.rsdp_oem);
        out_text("Sig   Address           Length  Rev     OEM     Table\n");
    }
    for (int i = 0; i < l.count; i++) {
        if (poll_break()) return kExitInterrupted;
        print_line(l.tables[i]);
    }
    return 0;
}

}  // namespace

void register_acpiview_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
