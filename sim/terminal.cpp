// A serial terminal behind the console, as under OVMF: the firmware's terminal driver
// keeps its own idea of the cursor (its text mode's size), while the terminal has its own
// size; raw bytes reach the terminal through Serial I/O.
#include <algorithm>

#include "sim_impl.h"

namespace sim {

namespace {

SimFirmware::Impl& im() { return current_impl(); }

// Inserts a key at its arrival time: before every queued key that arrives later.
void insert_key(SimFirmware::Impl& s, char16_t ch, uint16_t scan, uint64_t at_us) {
    QueuedKey k;
    k.data.key.unicode_char = ch;
    k.data.key.scan_code = scan;
    k.data.key_state.key_shift_state = efi::kShiftStateValid;
    k.available_us = at_us;
    auto it = std::find_if(s.keys.begin(), s.keys.end(),
                           [&](const QueuedKey& q) { return q.available_us > at_us; });
    s.keys.insert(it, k);
    s.last_key_us = std::max(s.last_key_us, at_us);
}

void answer_position(SimFirmware::Impl& s) {
    if (!s.terminal_answers) return;
    std::string reply = "[" + std::to_string(s.screen.cursor_row() + 1) + ";" +
                        std::to_string(s.screen.cursor_column() + 1) + "R";
    uint64_t at = s.now_us + s.terminal_answer_delay_us;
    insert_key(s, 0, 0x17, at);
    for (char c : reply) insert_key(s, static_cast<char16_t>(c), 0, at);
}

// One complete "ESC [ params final" sequence.
void run_csi(SimFirmware::Impl& s, const std::string& params, char final) {
    std::vector<int64_t> values;
    int64_t v = 0;
    bool any = false;
    for (char c : params) {
        if (c == ';') {
            values.push_back(any ? v : 0);
            v = 0;
            any = false;
        } else if (c >= '0' && c <= '9') {
            v = v * 10 + (c - '0');
            any = true;
        }
    }
    values.push_back(any ? v : 0);
    int64_t n = std::max<int64_t>(values[0], 1);
    Screen& sc = s.screen;
    switch (final) {
    case 'A': sc.move_cursor_by(0, -n); break;
    case 'B': sc.move_cursor_by(0, n); break;
    case 'C': sc.move_cursor_by(n, 0); break;
    case 'D': sc.move_cursor_by(-n, 0); break;
    case 'H':
    case 'f': {
        int64_t row = std::max<int64_t>(values[0], 1);
        int64_t column = values.size() > 1 ? std::max<int64_t>(values[1], 1) : 1;
        sc.set_cursor(static_cast<uint64_t>(column - 1), static_cast<uint64_t>(row - 1));
        break;
    }
    case 'n':
        if (values[0] == 6) answer_position(s);
        break;
    default: break;
    }
}

void feed_byte(SimFirmware::Impl& s, char b) {
    std::string& seq = s.serial_sequence;
    if (seq.empty()) {
        if (b == '\x1b') {
            seq.push_back(b);
            return;
        }
        s.screen.put_unit(static_cast<char16_t>(static_cast<unsigned char>(b)));
        return;
    }
    seq.push_back(b);
    if (seq.size() == 2) {
        if (b == '7') s.screen.save_cursor();
        if (b == '8') s.screen.restore_cursor();
        if (b != '[') seq.clear();
        return;
    }
    if (b >= 0x40 && b <= 0x7e) {
        run_csi(s, seq.substr(2, seq.size() - 3), b);
        seq.clear();
    } else if (seq.size() > 32) {
        seq.clear();
    }
}

efi::Status EFIAPI serial_write(efi::SerialIo*, uint64_t* size, const void* buffer) {
    auto& s = im();
    if (!size || (!buffer && *size)) return efi::kInvalidParameter;
    const char* bytes = static_cast<const char*>(buffer);
    s.serial_bytes.append(bytes, *size);
    for (uint64_t i = 0; i < *size; i++) feed_byte(s, bytes[i]);
    sync_output_mode(s);
    return efi::kSuccess;
}

efi::Status EFIAPI serial_read(efi::SerialIo*, uint64_t* size, void*) {
    if (size) *size = 0;
    return efi::kTimeout;
}

}  // namespace

void terminal_after_output(SimFirmware::Impl& s, const char16_t* text) {
    const TextMode& m = s.modes[static_cast<size_t>(s.out_mode.mode)];
    const int64_t columns = static_cast<int64_t>(m.columns), rows = static_cast<int64_t>(m.rows);
    for (; *text; text++) {
        switch (*text) {
        case u'\r': s.fw_column = 0; break;
        case u'\n': s.fw_row = std::min(s.fw_row + 1, rows - 1); break;
        case u'\b':
            if (s.fw_column > 0) s.fw_column--;
            break;
        default:
            if (*text < 0x20) break;
            if (++s.fw_column >= columns) {
                s.fw_column = 0;
                s.fw_row = std::min(s.fw_row + 1, rows - 1);
            }
        }
    }
}

void SimFirmware::attach_serial_terminal(uint64_t columns, uint64_t rows, bool answers,
                                         uint64_t answer_delay_us) {
    auto& s = *impl_;
    s.terminal = true;
    s.terminal_answers = answers;
    s.terminal_answer_delay_us = answer_delay_us;
    s.screen.resize(columns, rows);
    s.screen.set_deferred_wrap(true);
    s.fw_column = s.fw_row = 0;
    if (!s.serial_handle) {
        s.serial.revision = 0x00010000;
        s.serial.write = serial_write;
        s.serial.read = serial_read;
        s.serial_handle = s.handles.install_new(efi::kSerialIoProtocolGuid, &s.serial);
    }
    sync_output_mode(s);
}

const std::string& SimFirmware::serial_bytes() const { return impl_->serial_bytes; }

void SimFirmware::push_escape_sequence(const std::string& chars, uint64_t delay_us, uint64_t gap_us) {
    push_key(0, 0x17, 0, delay_us);
    for (char c : chars) push_key(static_cast<char16_t>(c), 0, 0, gap_us);
}

void SimFirmware::set_output_time_per_unit(uint64_t us) { impl_->output_us_per_unit = us; }

}  // namespace sim
