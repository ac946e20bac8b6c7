// Every change to the boot variables goes through one plan: its steps are shown,
// confirmed, preceded by a dated backup of all boot variables on the boot volume, and
// then written in order.
#pragma once
#include "runtime/memory.h"
#include "runtime/string_buffer.h"

namespace tarn {

struct PlanStep {
    char* name;     // variable name (global GUID)
    uint8_t* data;  // null: delete the variable
    uint64_t size;
    char* text;     // one line for the user
};

struct ChangePlan {
    Vector<PlanStep> steps;
    bool dry_run = false;
    bool assume_yes = false;
    bool no_backup = false;
    bool quiet = false;

    ChangePlan() = default;
    ChangePlan(const ChangePlan&) = delete;
    ChangePlan& operator=(const ChangePlan&) = delete;
    ~ChangePlan();
};

// Appends a step: the name is copied, data (may be null) and text are taken over.
void plan_add(ChangePlan& plan, const char* name, uint8_t* data, uint64_t size, char* text);
// Appends a step writing an order variable from numbers, "NAME = 0001,0002".
void plan_set_order(ChangePlan& plan, const char* name, const uint32_t* numbers, uint64_t count);
// Shows, confirms, backs up and writes; the command's exit status.
int plan_apply(ChangePlan& plan);

// The backup text of every boot variable (header line first).
void boot_backup_text(StringBuffer& text);
// Writes the dated backup into \tarn\backup of the boot volume; the path, or null.
char* save_boot_backup();

// "QUESTION [y/N] " and one line: y, yes, s, si (any case) mean yes.
bool ask_yes_no(const char* question);
bool is_yes_answer(const char* line);

}  // namespace tarn
