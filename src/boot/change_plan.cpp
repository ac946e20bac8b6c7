#include "boot/change_plan.h"

#include "boot/load_option.h"
#include "fs/files.h"
#include "fs/volumes.h"
#include "runtime/clock.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/line_editor.h"
#include "uefi/guids.h"
#include "vars/variable_access.h"
#include "vars/variable_text.h"

namespace tarn {

ChangePlan::~ChangePlan() {
    for (PlanStep& s : steps) {
        release(s.name);
        release(s.data);
        release(s.text);
    }
}

void plan_add(ChangePlan& plan, const char* name, uint8_t* data, uint64_t size, char* text) {
    plan.steps.push(PlanStep{xstrdup(name), data, size, text});
}

void plan_set_order(ChangePlan& plan, const char* name, const uint32_t* numbers, uint64_t count) {
    // An empty order is a variable of size 0; the step still carries a (valid) buffer so
    // that it reads as a write, which the firmware takes as a delete.
    uint8_t* data = static_cast<uint8_t*>(xallocate(count * 2 + 2));
    for (uint64_t i = 0; i < count; i++) {
        data[2 * i] = static_cast<uint8_t>(numbers[i]);
        data[2 * i + 1] = static_cast<uint8_t>(numbers[i] >> 8);
    }
    StringBuffer text;
    append_format(text, "%s = ", name);
    format_order(numbers, count, text);
    plan_add(plan, name, data, count * 2, take(text));
}

bool is_yes_answer(const char* line) {
    return line && (equal_nocase(line, "y") || equal_nocase(line, "yes") ||
                    equal_nocase(line, "s") || equal_nocase(line, "si"));
}

bool ask_yes_no(const char* question) {
    char prompt[256];
    format_into(prompt, sizeof prompt, "%s [y/N] ", question);
    Owned<char> line(read_line(prompt, false));
    return is_yes_answer(line.get());
}

namespace {

void append_variable(StringBuffer& text, const char* name) {
    VariableData v;
    if (efi::is_error(read_variable(name, efi::kGlobalVariableGuid, &v))) return;
    append_backup_line(text, name, efi::kGlobalVariableGuid, v.attributes, v.bytes, v.size);
}

}  // namespace

void boot_backup_text(StringBuffer& text) {
    append_text(text, kBootBackupHeader);
    static const char* const kPrefixes[] = {"Boot", "Driver", "SysPrep"};
    for (const char* prefix : kPrefixes) {
        Vector<uint32_t> numbers;
        list_option_numbers(prefix, numbers);
        for (uint32_t n : numbers) {
            char name[kOptionNameSize];
            option_name(prefix, n, name);
            append_variable(text, name);
        }
    }
    static const char* const kSingles[] = {"BootOrder", "DriverOrder", "SysPrepOrder", "BootNext",
                                           "Timeout"};
    for (const char* name : kSingles) append_variable(text, name);
}

char* save_boot_backup() {
    const Volume* volume = volume_at(boot_volume_index());
    if (!volume) return nullptr;
    StringBuffer text;
    boot_backup_text(text);

    char directory[64];
    format_into(directory, sizeof directory, "%s:\\tarn", volume->name);
    (void)make_directory(directory);
    format_into(directory, sizeof directory, "%s:\\tarn\\backup", volume->name);
    (void)make_directory(directory);

    efi::Time now{};
    (void)clock_get_time(&now);
    char stem[128];
    format_into(stem, sizeof stem, "%s\\boot-%04d%02d%02d-%02d%02d%02d", directory, now.year,
                now.month, now.day, now.hour, now.minute, now.second);
    // An earlier backup of the same second is kept: the next free suffix is used.
    char path[160];
    format_into(path, sizeof path, "%s.txt", stem);
    for (int suffix = 1; suffix < 1000; suffix++) {
        FileStat st{};
        if (file_stat(path, &st) != kOk) break;
        format_into(path, sizeof path, "%s-%d.txt", stem, suffix);
    }
    if (write_whole_file(path, text.c_str(), text.length) != kOk) return nullptr;
    return xstrdup(path);
}

int plan_apply(ChangePlan& plan) {
    if (plan.steps.empty()) {
        out_text("Nothing to change.\n");
        return 0;
    }
    if (!plan.quiet || plan.dry_run) {
        out_text(plan.dry_run ? "Planned changes (dry run, nothing is written):\n" : "Changes:\n");
        for (const PlanStep& s : plan.steps) out_printf("  %s\n", s.text);
    }
    if (plan.dry_run) return 0;
    if (!plan.assume_yes && !ask_yes_no("Apply these changes?")) {
        out_text("Cancelled.\n");
        return 1;
    }
    if (!plan.no_backup) {
        Owned<char> saved(save_boot_backup());
        if (saved && !plan.quiet) out_printf("Backup saved to %s\n", saved.get());
        if (!saved && !plan.quiet)
            return report_error("bootmgr",
                                "cannot save the backup of the boot variables on the boot "
                                "volume (use -B to continue without backup)");
    }
    for (const PlanStep& s : plan.steps) {
        efi::Status status;
        if (s.data) {
            status = write_variable(s.name, efi::kGlobalVariableGuid, kBootVariableAttributes,
                                    s.size, s.data);
            // An empty order written as size 0 is a delete: a missing one is done too.
            if (s.size == 0 && status == efi::kNotFound) status = efi::kSuccess;
        } else {
            status = delete_variable(s.name, efi::kGlobalVariableGuid);
            if (status == efi::kNotFound) status = efi::kSuccess;
        }
        if (efi::is_error(status))
            return report_error("bootmgr", "writing %s failed: %s", s.name,
                                status_message(status));
    }
    if (!plan.quiet) out_text("Done.\n");
    return 0;
}

}  // namespace tarn
