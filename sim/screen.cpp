// Simple Text Output over a screen model: a grid of cells with attributes, a cursor that
// wraps at the last column and scrolls at the bottom, and a transcript of all output.
#include <algorithm>

#include "sim_impl.h"

namespace sim {

namespace {

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    } else {
        out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
    }
}

bool is_surrogate(char16_t c) { return c >= 0xd800 && c <= 0xdfff; }

SimFirmware::Impl& im() { return current_impl(); }

efi::Status EFIAPI out_reset(efi::SimpleTextOutput*, efi::Boolean) {
    auto& s = im();
    s.screen.set_attribute(0x07);
    screen_set_mode(s, 0);
    if (s.listener.attribute) s.listener.attribute(0x07);
    return efi::kSuccess;
}

efi::Status EFIAPI out_output_string(efi::SimpleTextOutput*, const efi::Char16* text) {
    auto& s = im();
    if (!text) return efi::kInvalidParameter;
    s.screen.write(text);
    if (s.terminal) terminal_after_output(s, text);
    if (s.output_us_per_unit) {
        uint64_t units = 0;
        for (const efi::Char16* p = text; *p; p++) units++;
        advance_to(s, s.now_us + units * s.output_us_per_unit);
    }
    sync_output_mode(s);
    if (s.listener.text) s.listener.text(text);
    return efi::kSuccess;
}

efi::Status EFIAPI out_test_string(efi::SimpleTextOutput*, const efi::Char16* text) {
    if (!text) return efi::kInvalidParameter;
    return efi::kSuccess;
}

efi::Status EFIAPI out_query_mode(efi::SimpleTextOutput*, uint64_t mode, uint64_t* columns,
                                  uint64_t* rows) {
    auto& s = im();
    if (!columns || !rows) return efi::kInvalidParameter;
    if (s.query_mode_fails) return efi::kDeviceError;
    if (mode >= s.modes.size() || s.unavailable_modes.count(mode)) return efi::kUnsupported;
    *columns = s.modes[mode].columns;
    *rows = s.modes[mode].rows;
    return efi::kSuccess;
}

efi::Status EFIAPI out_set_mode(efi::SimpleTextOutput*, uint64_t mode) {
    auto& s = im();
    if (mode >= s.modes.size() || s.unavailable_modes.count(mode)) return efi::kUnsupported;
    if (auto refused = s.refused_modes.find(mode); refused != s.refused_modes.end()) return refused->second;
    screen_set_mode(s, mode);
    return efi::kSuccess;
}

efi::Status EFIAPI out_set_attribute(efi::SimpleTextOutput*, uint64_t attribute) {
    auto& s = im();
    if (attribute & ~UINT64_C(0x7f)) return efi::kUnsupported;
    s.screen.set_attribute(static_cast<uint8_t>(attribute));
    sync_output_mode(s);
    if (s.listener.attribute) s.listener.attribute(static_cast<uint8_t>(attribute));
    return efi::kSuccess;
}

efi::Status EFIAPI out_clear_screen(efi::SimpleTextOutput*) {
    auto& s = im();
    s.screen.clear();
    s.fw_column = s.fw_row = 0;
    sync_output_mode(s);
    if (s.listener.clear) s.listener.clear();
    return efi::kSuccess;
}

efi::Status EFIAPI out_set_cursor_position(efi::SimpleTextOutput*, uint64_t column, uint64_t row) {
    auto& s = im();
    if (s.terminal) {
        // The firmware checks its own mode and sends an absolute position to the line.
        const TextMode& m = s.modes[static_cast<size_t>(s.out_mode.mode)];
        if (column >= m.columns || row >= m.rows) return efi::kUnsupported;
        s.fw_column = static_cast<int64_t>(column);
        s.fw_row = static_cast<int64_t>(row);
    } else if (column >= s.screen.columns() || row >= s.screen.rows()) {
        return efi::kUnsupported;
    }
    s.screen.set_cursor(column, row);
    sync_output_mode(s);
    if (s.listener.cursor) s.listener.cursor(column, row);
    return efi::kSuccess;
}

efi::Status EFIAPI out_enable_cursor(efi::SimpleTextOutput*, efi::Boolean visible) {
    auto& s = im();
    s.screen.set_cursor_visible(visible != 0);
    sync_output_mode(s);
    if (s.listener.cursor_visible) s.listener.cursor_visible(visible != 0);
    return efi::kSuccess;
}

}  // namespace

// ---------------------------------------------------------------- Screen

void Screen::resize(uint64_t columns, uint64_t rows) {
    columns_ = std::max<uint64_t>(columns, 1);
    rows_ = std::max<uint64_t>(rows, 1);
    clear();
}

void Screen::clear() {
    cells_.assign(columns_ * rows_, Cell{u' ', attribute_});
    cursor_column_ = cursor_row_ = 0;
    wrap_pending_ = false;
}

void Screen::set_cursor(uint64_t column, uint64_t row) {
    cursor_column_ = std::min(column, columns_ - 1);
    cursor_row_ = std::min(row, rows_ - 1);
    wrap_pending_ = false;
}

void Screen::move_cursor_by(int64_t columns, int64_t rows) {
    int64_t c = static_cast<int64_t>(cursor_column_) + columns;
    int64_t r = static_cast<int64_t>(cursor_row_) + rows;
    c = std::clamp<int64_t>(c, 0, static_cast<int64_t>(columns_) - 1);
    r = std::clamp<int64_t>(r, 0, static_cast<int64_t>(rows_) - 1);
    set_cursor(static_cast<uint64_t>(c), static_cast<uint64_t>(r));
}

void Screen::save_cursor() {
    saved_column_ = cursor_column_;
    saved_row_ = cursor_row_;
}

void Screen::restore_cursor() { set_cursor(saved_column_, saved_row_); }

void Screen::scroll_up() {
    std::move(cells_.begin() + static_cast<std::ptrdiff_t>(columns_), cells_.end(), cells_.begin());
    std::fill(cells_.end() - static_cast<std::ptrdiff_t>(columns_), cells_.end(),
              Cell{u' ', attribute_});
}

void Screen::newline() {
    if (cursor_row_ + 1 < rows_) {
        cursor_row_++;
    } else {
        scroll_up();
    }
}

void Screen::append_transcript(char16_t ch) {
    std::string utf8;
    if (pending_high_surrogate_) {
        char16_t high = pending_high_surrogate_;
        pending_high_surrogate_ = 0;
        if (ch >= 0xdc00 && ch <= 0xdfff) {
            append_utf8(utf8, 0x10000 + ((static_cast<uint32_t>(high) - 0xd800) << 10) +
                                  (static_cast<uint32_t>(ch) - 0xdc00));
        } else {
            append_utf8(utf8, 0xfffd);
            append_transcript(ch);
        }
    } else if (ch >= 0xd800 && ch <= 0xdbff) {
        pending_high_surrogate_ = ch;
        return;
    } else if (is_surrogate(ch)) {
        append_utf8(utf8, 0xfffd);
    } else {
        append_utf8(utf8, ch);
    }
    if (utf8.empty()) return;
    transcript_ += utf8;
    if (!runs_.empty() && runs_.back().second == attribute_)
        runs_.back().first += utf8;
    else
        runs_.emplace_back(utf8, attribute_);
}

void Screen::put_unit(char16_t ch) {
    append_transcript(ch);
    switch (ch) {
    case u'\r':
        cursor_column_ = 0;
        wrap_pending_ = false;
        return;
    case u'\n':
        newline();
        wrap_pending_ = false;
        return;
    case u'\b':
        if (cursor_column_ > 0) cursor_column_--;
        wrap_pending_ = false;
        return;
    case 0x07:  // bell
        return;
    default:
        break;
    }
    if (ch < 0x20) return;
    if (cells_.size() != columns_ * rows_) clear();
    if (wrap_pending_) {
        wrap_pending_ = false;
        cursor_column_ = 0;
        newline();
    }
    cells_[cursor_row_ * columns_ + cursor_column_] = Cell{ch, attribute_};
    if (cursor_column_ + 1 < columns_) {
        cursor_column_++;
    } else if (deferred_wrap_) {
        wrap_pending_ = true;
    } else {
        cursor_column_ = 0;
        newline();
    }
}

void Screen::write(const char16_t* text) {
    for (; *text; text++) put_unit(*text);
}

std::string Screen::row_text(uint64_t row) const {
    std::string out;
    if (row >= rows_ || cells_.size() != columns_ * rows_) return out;
    for (uint64_t c = 0; c < columns_; c++) {
        char16_t ch = cells_[row * columns_ + c].ch;
        append_utf8(out, is_surrogate(ch) ? 0xfffd : ch);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string Screen::text() const {
    std::vector<std::string> lines;
    for (uint64_t r = 0; r < rows_; r++) lines.push_back(row_text(r));
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string out;
    for (size_t i = 0; i < lines.size(); i++) {
        if (i) out += '\n';
        out += lines[i];
    }
    return out;
}

const Cell& Screen::cell(uint64_t column, uint64_t row) const {
    static const Cell kBlank{};
    if (column >= columns_ || row >= rows_ || cells_.size() != columns_ * rows_) return kBlank;
    return cells_[row * columns_ + column];
}

uint64_t Screen::cursor_column() const { return cursor_column_; }
uint64_t Screen::cursor_row() const { return cursor_row_; }

std::string Screen::transcript_lines() const {
    std::string out;
    out.reserve(transcript_.size());
    for (char c : transcript_)
        if (c != '\r') out += c;
    return out;
}

std::string Screen::text_in_foreground(int foreground) const {
    std::string out;
    for (auto& [text, attr] : runs_)
        if ((attr & 0x0f) == foreground) out += text;
    return out;
}

// ---------------------------------------------------------------- the protocol

void sync_output_mode(SimFirmware::Impl& s) {
    s.out_mode.max_mode = static_cast<int32_t>(s.modes.size());
    s.out_mode.attribute = s.screen.attribute();
    s.out_mode.cursor_column = static_cast<int32_t>(s.terminal ? s.fw_column : s.screen.cursor_column());
    s.out_mode.cursor_row = static_cast<int32_t>(s.terminal ? s.fw_row : s.screen.cursor_row());
    s.out_mode.cursor_visible = s.screen.cursor_visible() ? 1 : 0;
}

void screen_set_mode(SimFirmware::Impl& s, uint64_t mode) {
    if (mode >= s.modes.size()) return;
    s.out_mode.mode = static_cast<int32_t>(mode);
    if (s.terminal) {
        s.screen.clear();  // the terminal keeps its size
        s.fw_column = s.fw_row = 0;
    } else {
        s.screen.resize(s.modes[mode].columns, s.modes[mode].rows);
    }
    sync_output_mode(s);
    if (s.listener.mode) s.listener.mode(s.modes[mode].columns, s.modes[mode].rows);
}

void install_screen(SimFirmware::Impl& s) {
    auto& o = s.con_out;
    o.reset = out_reset;
    o.output_string = out_output_string;
    o.test_string = out_test_string;
    o.query_mode = out_query_mode;
    o.set_mode = out_set_mode;
    o.set_attribute = out_set_attribute;
    o.clear_screen = out_clear_screen;
    o.set_cursor_position = out_set_cursor_position;
    o.enable_cursor = out_enable_cursor;
    o.mode = &s.out_mode;
    s.screen.set_attribute(0x07);
    screen_set_mode(s, 0);
    s.con_out_handle = s.handles.install_new(efi::kSimpleTextOutputProtocolGuid, &s.con_out);
    s.st.console_out_handle = s.con_out_handle;
    s.st.con_out = &s.con_out;
    s.st.standard_error_handle = s.con_out_handle;
    s.st.std_err = &s.con_out;
}

Screen& SimFirmware::screen() { return impl_->screen; }

void SimFirmware::set_text_modes(const std::vector<TextMode>& modes) {
    impl_->modes = modes.empty() ? std::vector<TextMode>{{80, 25}} : modes;
    screen_set_mode(*impl_, 0);
}

void SimFirmware::set_current_mode(uint64_t mode) { screen_set_mode(*impl_, mode); }

void SimFirmware::set_console_listener(ConsoleListener listener) {
    impl_->listener = std::move(listener);
}

void SimFirmware::set_query_mode_fails(bool fails) { impl_->query_mode_fails = fails; }

void SimFirmware::set_text_mode_unavailable(uint64_t mode, bool unavailable) {
    if (unavailable) impl_->unavailable_modes.insert(mode);
    else impl_->unavailable_modes.erase(mode);
}

void SimFirmware::set_text_mode_refused(uint64_t mode, efi::Status status) {
    if (status) impl_->refused_modes[mode] = status;
    else impl_->refused_modes.erase(mode);
}

}  // namespace sim
