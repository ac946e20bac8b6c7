#include "shell/registry.h"

#include "runtime/exit.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/sort.h"
#include "runtime/strings.h"

namespace tarn {
namespace {

struct Registry {
    const CommandDescriptor** rows;
    uint64_t count;
    uint64_t capacity;
};

constinit Registry g_registry = {nullptr, 0, 0};

void grow_to(uint64_t needed) {
    if (needed <= g_registry.capacity) return;
    uint64_t capacity = g_registry.capacity ? g_registry.capacity : 32;
    while (capacity < needed) capacity *= 2;
    uint64_t bytes = 0;
    if (mul_overflows(capacity, sizeof(const CommandDescriptor*), &bytes)) fatal("out of memory");
    g_registry.rows = static_cast<const CommandDescriptor**>(xresize(g_registry.rows, bytes));
    g_registry.capacity = capacity;
}

}  // namespace

void register_commands(const CommandDescriptor* table, uint64_t count) {
    set_usage_lookup(usage_of);
    if (!table || count == 0) return;
    uint64_t needed = 0;
    if (add_overflows(g_registry.count, count, &needed)) fatal("out of memory");
    grow_to(needed);
    for (uint64_t i = 0; i < count; i++) g_registry.rows[g_registry.count++] = &table[i];
    // Stable, so rows registered earlier stay first among equal names.
    stable_sort(g_registry.rows, g_registry.count, [](const CommandDescriptor* a, const CommandDescriptor* b) {
        return strcmp(a->name, b->name) < 0;
    });
}

const CommandDescriptor* find_command(const char* name) {
    if (!name) return nullptr;
    for (uint64_t i = 0; i < g_registry.count; i++)
        if (equal_nocase(g_registry.rows[i]->name, name)) return g_registry.rows[i];
    return nullptr;
}

uint64_t command_count() { return g_registry.count; }

const CommandDescriptor* command_at(uint64_t index) {
    return index < g_registry.count ? g_registry.rows[index] : nullptr;
}

const char* usage_of(const char* name) {
    const CommandDescriptor* cmd = find_command(name);
    return cmd ? cmd->usage : nullptr;
}

void reset_registry() {
    release(g_registry.rows);
    g_registry = {nullptr, 0, 0};
}

}  // namespace tarn
