// The command history list and its file.
#include "shell/history.h"

#include "runtime/firmware.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

namespace tarn {

namespace {

constexpr uint64_t kPathSize = 96;
constexpr uint64_t kMaxVolumeName = 48;

struct HistoryState {
    char* lines[kHistoryLimit];  // ring: lines[(head + i) % limit] is entry i
    uint64_t head;
    uint64_t count;
    bool loaded;
    bool file_known;
    char path[kPathSize];
    const HistoryFileOps* ops;
};

constinit HistoryState g_history{};

char*& slot(uint64_t index) { return g_history.lines[(g_history.head + index) % kHistoryLimit]; }

// A copy of bytes[0..n) without control bytes (carriage returns, NULs and the like never
// belong to a typed line); null when nothing is left.
char* clean_copy(const char* bytes, uint64_t n) {
    uint64_t kept = 0;
    for (uint64_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c != 0x7f) kept++;
    }
    if (kept == 0) return nullptr;
    char* copy = static_cast<char*>(xallocate(kept + 1));
    uint64_t k = 0;
    for (uint64_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c != 0x7f) copy[k++] = static_cast<char>(c);
    }
    copy[k] = 0;
    return copy;
}

// Takes ownership of line and appends it as the newest entry, dropping the oldest when
// the list is full.
void push_entry(char* line) {
    if (g_history.count == kHistoryLimit) {
        release(slot(0));
        slot(0) = nullptr;
        g_history.head = (g_history.head + 1) % kHistoryLimit;
        g_history.count--;
    }
    slot(g_history.count) = line;
    g_history.count++;
}

bool has_visible_byte(const char* bytes, uint64_t n) {
    for (uint64_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c != 0x7f) return true;
    }
    return false;
}

// Adds the lines of a history file. Only the last kHistoryLimit non-empty lines can
// survive, so the walk starts from the end and the earlier part of a huge file is
// never copied.
void load_lines(const char* data, uint64_t length) {
    uint64_t start = length;  // offset of the oldest line that will be kept
    uint64_t found = 0;
    uint64_t end = length;
    while (end > 0 && found < kHistoryLimit) {
        uint64_t s = end;
        while (s > 0 && data[s - 1] != '\n') s--;
        if (has_visible_byte(data + s, end - s)) {
            found++;
            start = s;
        }
        end = s > 0 ? s - 1 : 0;
    }
    uint64_t i = start;
    while (i < length) {
        uint64_t e = i;
        while (e < length && data[e] != '\n') e++;
        if (char* line = clean_copy(data + i, e - i)) push_entry(line);
        i = e + 1;
    }
}

void ensure_loaded() {
    if (g_history.loaded) return;
    g_history.loaded = true;
    const HistoryFileOps* ops = g_history.ops;
    if (!ops || !ops->boot_volume) return;
    const char* volume = ops->boot_volume();
    if (!volume || !*volume || strnlen(volume, kMaxVolumeName + 1) > kMaxVolumeName) return;
    format_into(g_history.path, kPathSize, "%s:\\%s", volume, kHistoryFileName);
    g_history.file_known = true;
    if (!ops->read) return;
    char* data = nullptr;
    uint64_t length = 0;
    if (ops->read(g_history.path, &data, &length) != kOk) {
        release(data);
        return;
    }
    if (data) load_lines(data, length);
    release(data);
}

void forget_file() {
    g_history.file_known = false;
    g_history.path[0] = 0;
}

}  // namespace

void set_history_file_ops(const HistoryFileOps* ops) { g_history.ops = ops; }

const char* history_file_path() { return g_history.file_known ? g_history.path : ""; }

void history_add(const char* line) {
    ensure_loaded();
    if (!line || !*line) return;
    char* entry = clean_copy(line, strlen(line));
    if (!entry) return;
    if (g_history.count > 0 && strcmp(slot(g_history.count - 1), entry) == 0) {
        release(entry);
        return;
    }
    push_entry(entry);
    if (!g_history.file_known || !g_history.ops || !g_history.ops->append) return;
    uint64_t size = strlen(entry);
    char* record = static_cast<char*>(xallocate(size + 2));
    memcpy(record, entry, size);
    record[size] = '\n';
    record[size + 1] = 0;
    if (g_history.ops->append(g_history.path, record, size + 1) != kOk) forget_file();
    release(record);
}

uint64_t history_count() {
    ensure_loaded();
    return g_history.count;
}

const char* history_entry(uint64_t index) {
    ensure_loaded();
    if (index >= g_history.count) return nullptr;
    return slot(index);
}

void history_clear() {
    ensure_loaded();
    for (uint64_t i = 0; i < g_history.count; i++) {
        release(slot(i));
        slot(i) = nullptr;
    }
    g_history.count = 0;
    g_history.head = 0;
    if (!g_history.file_known || !g_history.ops || !g_history.ops->truncate) return;
    if (g_history.ops->truncate(g_history.path) != kOk) forget_file();
}

void reset_history_state() {
    // The entries came from the pool of the firmware still attached (if any); without
    // one they are only forgotten.
    if (firmware().boot) {
        for (uint64_t i = 0; i < g_history.count; i++) release(slot(i));
    }
    g_history = HistoryState{};
}

}  // namespace tarn
