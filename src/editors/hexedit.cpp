// hexedit: the full-screen byte editor over a file, a run of disk blocks or memory.
#include "editors/editors.h"
#include "editors/screen.h"
#include "fs/blocks.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "hw/phys_memory.h"
#include "platform/secure_boot.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"
#include "uefi/console.h"

namespace tarn {
namespace {

int hexedit_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"hexedit", hexedit_command, "hexedit [-f] FILE | hexedit -d DEVICE LBA COUNT | hexedit -m ADDRESS SIZE",
     "Edit a file, disk blocks or memory as bytes",
     "  The bytes are copied into memory, edited there and written back only on save.\n"
     "  -d DEVICE LBA COUNT   disk blocks (hexadecimal; COUNT up to 100)\n"
     "  -m ADDRESS SIZE       memory (hexadecimal; SIZE up to 100000)\n"
     "  Tab switches hex/ASCII; Ins and Del insert and delete bytes of a file.\n"
     "  F1 Ctrl-G go to offset   F2 Ctrl-S save   F3 Ctrl-Q Esc exit\n",
     0},
};

constexpr uint64_t kMaxBlocks = 0x100;
constexpr uint64_t kMaxMemory = 0x100000;
constexpr uint64_t kRowBytes = 16;

enum class Source : uint8_t { kFile, kDisk, kMemory };

struct HexEditor {
    Vector<uint8_t> bytes;
    uint64_t cursor = 0;
    int nibble = 0;
    bool ascii = false;
    uint64_t top = 0;  // in rows of 16 bytes
    bool modified = false;
    Source source = Source::kFile;
    char title[300] = {};
    uint64_t base = 0;
    uint64_t lba = 0;
    efi::Handle device = nullptr;
    char* path = nullptr;
    char message[160] = {};
    bool done = false;
    EditorScreen screen;
    ~HexEditor() { release(path); }
};

const char* source_word(Source s) {
    switch (s) {
    case Source::kFile: return "file";
    case Source::kDisk: return "disk";
    case Source::kMemory: return "memory";
    }
    return "";
}

void draw(HexEditor& h) {
    const uint64_t size = h.bytes.size();
    if (size && h.cursor >= size) h.cursor = size - 1;
    const uint64_t rows = h.screen.text_rows();
    const uint64_t row = h.cursor / kRowBytes;
    if (row < h.top) h.top = row;
    if (row >= h.top + rows) h.top = row - rows + 1;
    console_show_cursor(false);
    StringBuffer line;
    append_format(line, "  TARN hexedit   %s %s%s   %llu bytes", source_word(h.source), h.title,
                  h.modified ? "  [modified]" : "", static_cast<unsigned long long>(size));
    screen_draw_row(h.screen, 0, line.c_str(), kBarForeground, kBarBackground);
    uint64_t cursor_col = 0, cursor_row = 1;
    for (uint64_t r = 0; r < rows; r++) {
        clear(line);
        const uint64_t offset = (h.top + r) * kRowBytes;
        if (offset < size || (size == 0 && offset == 0)) {
            append_format(line, "%010llX  ", static_cast<unsigned long long>(h.base + offset));
            for (uint64_t i = 0; i < kRowBytes; i++) {
                if (offset + i == h.cursor) {
                    cursor_col = line.length + (h.ascii ? 0 : static_cast<uint64_t>(h.nibble));
                    cursor_row = r + 1;
                }
                if (offset + i < size)
                    append_format(line, "%02X ", h.bytes[offset + i]);
                else
                    append_text(line, "   ");
                if (i == 7) append_char(line, ' ');
            }
            append_char(line, ' ');
            for (uint64_t i = 0; i < kRowBytes && offset + i < size; i++) {
                if (h.ascii && offset + i == h.cursor) cursor_col = line.length;
                const uint8_t b = h.bytes[offset + i];
                append_char(line, b >= 0x20 && b <= 0x7e ? static_cast<char>(b) : '.');
            }
        }
        screen_draw_row(h.screen, r + 1, line.c_str(), kTextForeground, kTextBackground);
    }
    clear(line);
    append_format(line, "  Offset %llX  %s   %s", static_cast<unsigned long long>(h.cursor), h.ascii ? "ASCII" : "HEX",
                  h.message);
    screen_draw_row(h.screen, h.screen.status_row(), line.c_str(), kStatusForeground, kStatusBackground);
    screen_draw_row(h.screen, h.screen.height - 1,
                    h.source == Source::kFile
                        ? "F1 GoTo F2 Save F3 Exit  Tab hex/ASCII  Ins insert  Del delete"
                        : "F1 GoTo F2 Save F3 Exit  Tab hex/ASCII",
                    kBarForeground, kBarBackground);
    console_set_cursor(min_of(cursor_col, h.screen.width - 1), cursor_row);
    console_show_cursor(true);
}

void set_message(HexEditor& h, const char* text) { strlcpy(h.message, text, sizeof h.message); }

bool write_memory(uint64_t address, const uint8_t* bytes, uint64_t size) {
    for (uint64_t i = 0; i < size; i++)
        if (!write_physical_register(address + i, 1, bytes[i])) return false;
    return true;
}

// True when the save succeeded.
bool save(HexEditor& h) {
    ShellError e = kOk;
    switch (h.source) {
    case Source::kFile: e = editor_save_file(h.path, h.bytes.data(), h.bytes.size()); break;
    case Source::kDisk:
        draw(h);
        if (screen_ask(h.screen, "  Write the blocks back to the disk? (y/n)") != Answer::kYes) return false;
        e = write_blocks(h.device, h.lba, h.bytes.data(), h.bytes.size());
        break;
    case Source::kMemory:
        if (!hardware_write_allowed("hexedit")) {
            // The gate's refusal was printed over the screen: draw every row again.
            screen_invalidate(h.screen);
            set_message(h, "Memory writes are disabled (Secure Boot)");
            return false;
        }
        if (!write_memory(h.base, h.bytes.data(), h.bytes.size())) e = kErrIo;
        break;
    }
    if (e != kOk) {
        format_into(h.message, sizeof h.message, "Save failed: %s", error_message(e));
        return false;
    }
    h.modified = false;
    set_message(h, "Saved");
    return true;
}

void go_to(HexEditor& h) {
    draw(h);
    StringBuffer answer;
    if (!screen_prompt(h.screen, "  Go to offset (hex): ", nullptr, answer)) return;
    uint64_t v = 0;
    if (!parse_hex(answer.c_str(), &v) || v < h.base || v - h.base >= h.bytes.size()) return;
    h.cursor = v - h.base;
    h.nibble = 0;
}

int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

void character_key(HexEditor& h, uint32_t c) {
    if (c < 0x20) return;
    if (!h.ascii && hex_value(c) < 0) return;
    if (h.ascii && c > 0x7e) return;
    if (h.bytes.empty()) {
        if (h.source != Source::kFile) return;
        h.bytes.push(0);
    }
    uint8_t& b = h.bytes[h.cursor];
    h.modified = true;
    if (h.ascii) {
        b = static_cast<uint8_t>(c);
        if (h.cursor + 1 < h.bytes.size()) h.cursor++;
        return;
    }
    const int v = hex_value(c);
    if (h.nibble == 0) {
        b = static_cast<uint8_t>((b & 0x0f) | (v << 4));
        h.nibble = 1;
    } else {
        b = static_cast<uint8_t>((b & 0xf0) | v);
        if (h.cursor + 1 < h.bytes.size()) {
            h.cursor++;
            h.nibble = 0;
        }
    }
}

void scan_key(HexEditor& h, uint16_t scan) {
    const uint64_t size = h.bytes.size();
    const uint64_t page = h.screen.text_rows() * kRowBytes;
    switch (scan) {
    case efi::kScanUp:
        if (h.cursor >= kRowBytes) h.cursor -= kRowBytes;
        h.nibble = 0;
        break;
    case efi::kScanDown:
        if (h.cursor + kRowBytes < size) h.cursor += kRowBytes;
        h.nibble = 0;
        break;
    case efi::kScanRight:
        if (!h.ascii && h.nibble == 0) {
            h.nibble = 1;
        } else if (h.cursor + 1 < size) {
            h.cursor++;
            h.nibble = 0;
        }
        break;
    case efi::kScanLeft:
        if (!h.ascii && h.nibble == 1) {
            h.nibble = 0;
        } else if (h.cursor > 0) {
            h.cursor--;
            h.nibble = h.ascii ? 0 : 1;
        }
        break;
    case efi::kScanHome: h.cursor -= h.cursor % kRowBytes; h.nibble = 0; break;
    case efi::kScanEnd:
        h.cursor = min_of(h.cursor - h.cursor % kRowBytes + kRowBytes - 1, size ? size - 1 : 0);
        h.nibble = 0;
        break;
    case efi::kScanPageUp: h.cursor = h.cursor >= page ? h.cursor - page : h.cursor % kRowBytes; break;
    case efi::kScanPageDown: if (h.cursor + page < size) h.cursor += page; break;
    case efi::kScanInsert:
    case efi::kScanDelete:
        if (h.source != Source::kFile) {
            set_message(h, "The size of disk blocks and memory cannot change");
        } else if (scan == efi::kScanInsert) {
            h.bytes.insert_at(h.cursor, 0);
            h.modified = true;
        } else if (!h.bytes.empty()) {
            h.bytes.remove_at(h.cursor);
            h.modified = true;
        }
        h.nibble = 0;
        break;
    default: break;
    }
}

void handle_key(HexEditor& h, const KeyEvent& key) {
    h.message[0] = 0;
    switch (editor_command_of(key)) {
    case EditorCommand::kGoTo: go_to(h); return;
    case EditorCommand::kSave: (void)save(h); return;
    case EditorCommand::kExit:
        if (!h.modified) {
            h.done = true;
            return;
        }
        draw(h);
        switch (screen_ask(h.screen, "  Data modified. Save it? (y = yes, n = no, ESC = cancel)")) {
        case Answer::kYes: h.done = save(h); break;
        case Answer::kNo: h.done = true; break;
        case Answer::kCancel: break;
        }
        return;
    case EditorCommand::kNone: break;
    default: return;  // the text editor's other commands do nothing here
    }
    if (key.scan_code != 0) {
        scan_key(h, key.scan_code);
    } else if (key.character == '\t') {
        h.ascii = !h.ascii;
        h.nibble = 0;
    } else if (!(key.modifiers & kModAlt)) {
        character_key(h, key.character);
    }
}

void take_bytes(HexEditor& h, const uint8_t* data, uint64_t n) {
    for (uint64_t i = 0; i < n; i++) h.bytes.push(data[i]);
}

int open_file(HexEditor& h, const char* text) {
    h.path = resolve_path(text);
    if (!h.path) return report_error("hexedit", "%s: invalid path", text);
    strlcpy(h.title, h.path, sizeof h.title);
    char* data = nullptr;
    uint64_t length = 0;
    const ShellError e = read_whole_file(h.path, &data, &length);
    if (e == kErrNotFound) {
        set_message(h, "New file");
        return 0;
    }
    if (e != kOk) return report_failure("hexedit", h.path, e);
    take_bytes(h, reinterpret_cast<const uint8_t*>(data), length);
    release(data);
    return 0;
}

int open_disk(HexEditor& h, char** args) {
    uint64_t count = 0;
    if (!parse_hex(args[1], &h.lba) || !parse_hex(args[2], &count) || count < 1 || count > kMaxBlocks)
        return report_error("hexedit", "-d DEVICE LBA COUNT (hexadecimal, COUNT up to 100)");
    h.source = Source::kDisk;
    h.device = resolve_device(args[0]);
    uint8_t* data = nullptr;
    uint64_t length = 0;
    uint32_t block_size = 0;
    if (!h.device || read_blocks(h.device, h.lba, count, &data, &length, &block_size) != kOk)
        return report_error("hexedit", "cannot read %s", args[0]);
    take_bytes(h, data, length);
    release(data);
    h.base = h.lba * block_size;
    format_into(h.title, sizeof h.title, "%s LBA %llX", args[0], static_cast<unsigned long long>(h.lba));
    return 0;
}

int open_memory(HexEditor& h, char** args) {
    uint64_t size = 0;
    if (!parse_hex(args[0], &h.base) || !parse_hex(args[1], &size) || size < 1 || size > kMaxMemory)
        return report_error("hexedit", "-m ADDRESS SIZE (hexadecimal, SIZE up to 100000)");
    h.source = Source::kMemory;
    Owned<uint8_t> data(static_cast<uint8_t*>(xallocate(size)));
    if (!read_physical(h.base, data.get(), size))
        return report_error("hexedit", "cannot read memory at %llX", static_cast<unsigned long long>(h.base));
    take_bytes(h, data.get(), size);
    format_into(h.title, sizeof h.title, "%llX", static_cast<unsigned long long>(h.base));
    return 0;
}

int hexedit_command(int count, char** vector) {
    HexEditor h;
    int status = 0;
    if (count == 2 && vector[1][0] != '-') {
        status = open_file(h, vector[1]);
    } else if (count == 3 && equal_nocase(vector[1], "-f")) {
        status = open_file(h, vector[2]);
    } else if (count == 5 && equal_nocase(vector[1], "-d")) {
        status = open_disk(h, vector + 2);
    } else if (count == 4 && equal_nocase(vector[1], "-m")) {
        status = open_memory(h, vector + 2);
    } else {
        return report_usage("hexedit");
    }
    if (status != 0) return status;
    if (!console_is_interactive()) return report_error("hexedit", "needs an interactive console");
    screen_open(h.screen);
    while (!h.done) {
        draw(h);
        KeyEvent key;
        if (!read_key(-1, &key)) break;
        handle_key(h, key);
    }
    screen_close(h.screen);
    return kExitSuccess;
}

}  // namespace

void register_hexedit_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
