// dmpstore: dump, delete, save or load UEFI variables, its save file the record format
// of the standard shell (vars/dump_records.h).
#include "fs/files.h"
#include "fs/paths.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "runtime/text.h"
#include "shell/line_editor.h"
#include "shell/options.h"
#include "shell/registry.h"
#include "uefi/guids.h"
#include "vars/dump_records.h"
#include "vars/variable_access.h"
#include "vars/variable_text.h"
#include "vars/vars_module.h"

namespace tarn {
namespace {

int dmpstore_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"dmpstore", dmpstore_command, "dmpstore [-b] [-d] [-all | [NAME] [-guid GUID]] [-s FILE | -l FILE]",
     "Dump, delete, save or load UEFI variables (UEFI Shell syntax)",
     "  dmpstore [NAME]          dumps the variables (NAME may hold * and ?)\n"
     "  dmpstore NAME -d         deletes them (asks first for a pattern or for all)\n"
     "  dmpstore -s FILE         saves them to FILE, in the standard shell's format\n"
     "  dmpstore -l FILE         writes back the variables of FILE\n"
     "  -guid GUID   only that vendor GUID (default: the global GUID)\n"
     "  -all         every vendor GUID\n"
     "  -b           accepted (paging is the shell's)\n",
     0},
};

struct DmpstoreOptions {
    const char* guid = nullptr;
    const char* save = nullptr;
    const char* load = nullptr;
    bool all = false, remove = false;
};

constexpr Option<DmpstoreOptions> kDmpstoreOptions[] = {
    switch_option("all", &DmpstoreOptions::all, kOptionAnyCase),
    switch_option("d", &DmpstoreOptions::remove, kOptionAnyCase),
    ignored_option<DmpstoreOptions>("b", kOptionAnyCase),
    value_option("guid", &DmpstoreOptions::guid, kOptionAnyCase),
    value_option("s", &DmpstoreOptions::save, kOptionAnyCase),
    value_option("l", &DmpstoreOptions::load, kOptionAnyCase),
};

const char* const kCommand = "dmpstore";

struct Selection {
    bool any_guid = false;
    efi::Guid guid = efi::kGlobalVariableGuid;
    const char* pattern = nullptr;
};

bool selected(const Selection& s, const char* name, const efi::Guid& guid) {
    if (!s.any_guid && memcmp(&s.guid, &guid, sizeof guid) != 0) return false;
    return !s.pattern || wildcard_match(s.pattern, name, true);
}

bool cancelled() { return pager_stopped() || poll_break(); }

// ---- dump

struct DumpState {
    const Selection* selection;
    uint64_t matched = 0;
};

bool dump_one(void* context, const char* name, const char16_t* raw, const efi::Guid& guid) {
    DumpState* state = static_cast<DumpState*>(context);
    if (!selected(*state->selection, name, guid)) return true;
    state->matched++;
    VariableData value;
    if (read_variable_ucs2(raw, guid, &value) == efi::kSuccess) print_variable_dump(name, guid, value);
    return !cancelled();
}

int list_failed(efi::Status status) {
    return report_error(kCommand, "cannot list variables: %s", status_message(status));
}

int dump(const Selection& selection) {
    DumpState state{&selection};
    const efi::Status status = enumerate_variables(dump_one, &state);
    if (efi::is_error(status)) return list_failed(status);
    if (state.matched == 0 && selection.pattern)
        return report_error(kCommand, "variable %s not found", selection.pattern);
    return 0;
}

// ---- delete

struct Selected {
    char* name;
    efi::Guid guid;
};

// The (name, GUID) pairs a deletion collects before it changes the store.
struct SelectedList {
    const Selection* selection;
    Vector<Selected> items;
    SelectedList() = default;
    SelectedList(const SelectedList&) = delete;
    SelectedList& operator=(const SelectedList&) = delete;
    ~SelectedList() {
        for (Selected& s : items) release(s.name);
    }
};

bool collect_one(void* context, const char* name, const char16_t*, const efi::Guid& guid) {
    SelectedList* list = static_cast<SelectedList*>(context);
    if (selected(*list->selection, name, guid)) list->items.push(Selected{xstrdup(name), guid});
    return true;
}

bool is_pattern(const char* name) { return strchr(name, '*') || strchr(name, '?'); }

bool confirmed(uint64_t count) {
    Owned<char> prompt(format_string("Delete %d variables? [y/N] ", static_cast<int>(count)));
    Owned<char> answer(read_line(prompt.get(), false));
    return answer && (equal_nocase(answer.get(), "y") || equal_nocase(answer.get(), "yes"));
}

int remove(const Selection& selection, bool guid_given, bool all) {
    if (!selection.pattern && !guid_given && !all)
        return report_error(kCommand, "-d needs a variable name, a GUID or -all");
    SelectedList list;
    list.selection = &selection;
    const efi::Status status = enumerate_variables(collect_one, &list);
    if (efi::is_error(status)) return list_failed(status);
    if (list.items.empty()) {
        out_text("No matching variable.\n");
        return 0;
    }
    if ((!selection.pattern || is_pattern(selection.pattern)) && !confirmed(list.items.size())) {
        out_text("Cancelled.\n");
        return 1;
    }
    int code = 0;
    for (const Selected& s : list.items) {
        const efi::Status result = delete_variable(s.name, s.guid);
        char guid_text[kGuidTextSize];
        format_guid(s.guid, guid_text);
        out_printf("Delete variable %s:%s - %s\n", guid_text, s.name,
                   efi::is_error(result) ? status_message(result) : "Success");
        if (efi::is_error(result)) code = 1;
    }
    return code;
}

// ---- save

struct SaveState {
    const Selection* selection;
    StringBuffer file;
    int saved = 0;
    bool failed = false;
};

bool save_one(void* context, const char* name, const char16_t* raw, const efi::Guid& guid) {
    SaveState* state = static_cast<SaveState*>(context);
    if (!selected(*state->selection, name, guid)) return true;
    VariableData value;
    if (read_variable_ucs2(raw, guid, &value) != efi::kSuccess) return !cancelled();
    uint64_t units = 0;
    while (raw[units]) units++;
    if (!append_dump_record(state->file, raw, (units + 1) * 2, guid, value.attributes, value.bytes,
                            value.size)) {
        state->failed = true;
        return false;
    }
    state->saved++;
    return !cancelled();
}

int save(const char* file, const Selection& selection) {
    Owned<char> path(resolve_path(file));
    if (!path) return report_error(kCommand, "%s: invalid path", file);
    SaveState state{&selection};
    init(state.file);
    const efi::Status status = enumerate_variables(save_one, &state);
    if (efi::is_error(status)) return list_failed(status);
    if (state.failed) return report_error(kCommand, "cannot compute the CRC of a record");
    const ShellError err = write_whole_file(path.get(), state.file.data, state.file.length);
    if (err != kOk) return report_error(kCommand, "%s: %s", path.get(), error_message(err));
    out_printf("%d variables saved to %s\n", state.saved, path.get());
    return 0;
}

// ---- load

// A record's name copied out of the file (aligned, for the firmware) and as UTF-8.
struct RecordName {
    Owned<char16_t> units;
    Owned<char> text;
    explicit RecordName(const DumpRecord& r)
        : units(static_cast<char16_t*>(xallocate(r.name_size))) {
        memcpy(units.get(), r.name, r.name_size);
        text.reset(ucs2_to_utf8(units.get()));
    }
};

// Writes one record that passed its checks; false when the firmware refused it.
bool load_record(const DumpRecord& r, const RecordName& name) {
    const efi::Status status =
        write_variable_ucs2(name.units.get(), r.guid, r.attributes, r.data_size, r.data);
    char guid_text[kGuidTextSize];
    format_guid(r.guid, guid_text);
    out_printf("Load variable %s:%s - %s\n", guid_text, name.text.get(),
               efi::is_error(status) ? status_message(status) : "Success");
    return !efi::is_error(status);
}

int load(const char* file, const Selection& selection) {
    Owned<char> path(resolve_path(file));
    if (!path) return report_error(kCommand, "%s: invalid path", file);
    char* raw = nullptr;
    uint64_t size = 0;
    const ShellError err = read_whole_file(path.get(), &raw, &size);
    if (err != kOk) return report_error(kCommand, "%s: %s", path.get(), error_message(err));
    Owned<char> owned(raw);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(raw);

    int loaded = 0, failed = 0;
    uint64_t offset = 0;
    for (;;) {
        DumpRecord r;
        const DumpRead read = read_dump_record(bytes, size, offset, &r);
        if (read == DumpRead::kEnd) break;
        if (read == DumpRead::kDamaged) {
            print_error("dmpstore: %s: truncated or damaged file\n", file);
            failed++;
            break;
        }
        offset = r.next;
        const RecordName name(r);
        uint32_t crc = 0;
        if (!dump_crc32(r.covered, r.covered_size, &crc) || crc != r.stored_crc) {
            print_error("dmpstore: %s: CRC error, not loaded\n", name.text.get());
            failed++;
            continue;
        }
        if (!selected(selection, name.text.get(), r.guid)) continue;
        if (load_record(r, name)) loaded++;
        else failed++;
        if (cancelled()) break;
    }
    if (loaded == 0 && failed == 0) {
        out_text("No variable in the file matches (without -guid only the global GUID is "
                 "loaded; use -all).\n");
        return 0;
    }
    return failed ? 1 : 0;
}

// ---- the command

int dmpstore_command(int count, char** vector) {
    DmpstoreOptions o;
    const int first =
        parse_options(count, vector, kDmpstoreOptions, kOptionsNameWord | kOptionsOthersPositional, &o);
    if (first < 0) return kExitUsage;
    // An option the table lacks, like a second NAME, is a usage error.
    for (int i = first; i < count; i++)
        if (vector[i][0] == '-') return report_usage(kCommand);
    if (count - first > 1) return report_usage(kCommand);
    Selection selection;
    selection.pattern = first < count ? vector[first] : nullptr;
    selection.any_guid = o.all;
    if (o.guid && !parse_guid(o.guid, &selection.guid))
        return report_error(kCommand, "invalid GUID %s", o.guid);
    if (o.guid) selection.any_guid = false;
    if ((o.remove ? 1 : 0) + (o.save ? 1 : 0) + (o.load ? 1 : 0) > 1)
        return report_error(kCommand, "-d, -s and -l cannot be combined");
    if (o.remove) return remove(selection, o.guid != nullptr, o.all);
    if (o.save) return save(o.save, selection);
    if (o.load) return load(o.load, selection);
    return dump(selection);
}

}  // namespace

void register_dmpstore_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
