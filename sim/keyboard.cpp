// Simple Text Input and Simple Text Input Ex on the console input handle, fed from a
// scripted queue of keys that become available as the virtual clock reaches them.
#include <algorithm>

#include "sim_impl.h"

namespace sim {

namespace {

SimFirmware::Impl& im() { return current_impl(); }

bool key_ready(const SimFirmware::Impl& s) {
    return !s.keys.empty() && s.keys.front().available_us <= s.now_us;
}

// Both wait events are wait-type: checking one asks whether a key is there.
void EFIAPI wait_for_key_notify(efi::Event event, void*) {
    auto& s = im();
    advance_to(s, s.now_us);
    if (!key_ready(s)) poll_key_source(s, 0);
    if (key_ready(s)) {
        if (EventRec* ev = find_event(s, event)) signal_event(s, ev);
    }
}

void flush_arrived(SimFirmware::Impl& s) {
    if (!s.reset_flushes) return;
    while (!s.keys.empty() && s.keys.front().available_us <= s.now_us) s.keys.pop_front();
}

efi::Status read_key(SimFirmware::Impl& s, efi::KeyData* out) {
    advance_to(s, s.now_us);
    if (!key_ready(s)) poll_key_source(s, 0);
    if (!key_ready(s)) return efi::kNotReady;
    *out = s.keys.front().data;
    s.keys.pop_front();
    return efi::kSuccess;
}

efi::Status EFIAPI in_reset(efi::SimpleTextInput*, efi::Boolean) {
    flush_arrived(im());
    return efi::kSuccess;
}

efi::Status EFIAPI in_read_key_stroke(efi::SimpleTextInput*, efi::InputKey* key) {
    auto& s = im();
    if (!key) return efi::kInvalidParameter;
    efi::KeyData data;
    efi::Status st = read_key(s, &data);
    if (st == efi::kSuccess) *key = data.key;
    return st;
}

efi::Status EFIAPI inex_reset(efi::SimpleTextInputEx*, efi::Boolean) {
    flush_arrived(im());
    return efi::kSuccess;
}

efi::Status EFIAPI inex_read_key_stroke_ex(efi::SimpleTextInputEx*, efi::KeyData* key) {
    auto& s = im();
    if (!key) return efi::kInvalidParameter;
    return read_key(s, key);
}

efi::Status EFIAPI inex_set_state(efi::SimpleTextInputEx*, uint8_t* toggle) {
    if (!toggle) return efi::kInvalidParameter;
    im().toggle_state = *toggle;
    return efi::kSuccess;
}

efi::Status EFIAPI inex_register_key_notify(efi::SimpleTextInputEx*, efi::KeyData* key,
                                            efi::KeyNotifyFunction fn, void** handle) {
    auto& s = im();
    if (!key || !fn || !handle) return efi::kInvalidParameter;
    for (auto& r : s.key_notifies) {
        if (r->fn == fn && r->key.key.scan_code == key->key.scan_code &&
            r->key.key.unicode_char == key->key.unicode_char &&
            r->key.key_state.key_shift_state == key->key_state.key_shift_state &&
            r->key.key_state.key_toggle_state == key->key_state.key_toggle_state) {
            *handle = r.get();
            return efi::kSuccess;
        }
    }
    auto reg = std::make_unique<KeyNotifyReg>();
    reg->key = *key;
    reg->fn = fn;
    *handle = reg.get();
    s.key_notifies.push_back(std::move(reg));
    return efi::kSuccess;
}

efi::Status EFIAPI inex_unregister_key_notify(efi::SimpleTextInputEx*, void* handle) {
    auto& s = im();
    if (!handle) return efi::kInvalidParameter;
    for (size_t i = 0; i < s.key_notifies.size(); i++)
        if (s.key_notifies[i].get() == handle) {
            s.key_notifies.erase(s.key_notifies.begin() + static_cast<std::ptrdiff_t>(i));
            return efi::kSuccess;
        }
    return efi::kInvalidParameter;
}

// A registration with zero shift or toggle state ignores that state.
bool notify_matches(const efi::KeyData& reg, const efi::KeyData& key, bool ignore_shift) {
    if (reg.key.scan_code != key.key.scan_code || reg.key.unicode_char != key.key.unicode_char)
        return false;
    if (ignore_shift) return true;
    if (reg.key_state.key_shift_state != 0 &&
        reg.key_state.key_shift_state != key.key_state.key_shift_state)
        return false;
    if (reg.key_state.key_toggle_state != 0 &&
        reg.key_state.key_toggle_state != key.key_state.key_toggle_state)
        return false;
    return true;
}

// Decodes one UTF-8 sequence; malformed bytes become U+FFFD.
uint32_t next_code_point(const std::string& s, size_t* i) {
    auto b = static_cast<unsigned char>(s[(*i)++]);
    if (b < 0x80) return b;
    int extra = b >= 0xf0 ? 3 : b >= 0xe0 ? 2 : b >= 0xc0 ? 1 : -1;
    if (extra < 0) return 0xfffd;
    uint32_t cp = b & (0x3f >> extra);
    for (int k = 0; k < extra; k++) {
        if (*i >= s.size()) return 0xfffd;
        auto c = static_cast<unsigned char>(s[*i]);
        if ((c & 0xc0) != 0x80) return 0xfffd;
        cp = (cp << 6) | (c & 0x3f);
        (*i)++;
    }
    return cp;
}

}  // namespace

SimFirmware::KeySourceResult poll_key_source(SimFirmware::Impl& s, uint64_t max_wait_us) {
    using R = SimFirmware::KeySourceResult;
    if (!s.key_source || s.key_source_ended) return R::kEnd;
    R r = s.key_source(max_wait_us);
    if (r == R::kEnd) s.key_source_ended = true;
    return r;
}

void SimFirmware::set_key_source(KeySource source) {
    impl_->key_source = std::move(source);
    impl_->key_source_ended = false;
}

bool next_key_arrival(const SimFirmware::Impl& s, uint64_t* at_us) {
    for (auto& k : s.keys)
        if (!k.arrived) {
            *at_us = k.available_us;
            return true;
        }
    return false;
}

void arrive_next_key(SimFirmware::Impl& s) {
    for (auto& k : s.keys) {
        if (k.arrived) continue;
        k.arrived = true;
        efi::KeyData data = k.data;  // the queue may change while notifications run
        std::vector<efi::KeyNotifyFunction> fns;
        for (auto& r : s.key_notifies)
            if (notify_matches(r->key, data, s.notify_ignores_shift)) fns.push_back(r->fn);
        for (auto fn : fns) {
            efi::KeyData copy = data;
            fn(&copy);
        }
        return;
    }
}

void queue_key(SimFirmware::Impl& s, char16_t ch, uint16_t scan, uint32_t shift, uint64_t delay_us) {
    QueuedKey k;
    k.data.key.unicode_char = ch;
    k.data.key.scan_code = scan;
    // Keys from the firmware's terminal report a valid shift state without modifiers.
    k.data.key_state.key_shift_state = shift | efi::kShiftStateValid;
    k.data.key_state.key_toggle_state = 0;
    uint64_t base = std::max(s.now_us, s.last_key_us);
    k.available_us = base + delay_us;
    s.last_key_us = k.available_us;
    s.keys.push_back(k);
    advance_to(s, s.now_us);  // a key due now arrives at once
}

void install_keyboard(SimFirmware::Impl& s) {
    s.con_in.reset = in_reset;
    s.con_in.read_key_stroke = in_read_key_stroke;
    s.con_in.wait_for_key =
        create_event(s, efi::kEvtNotifyWait, efi::kTplNotify, wait_for_key_notify, nullptr);
    s.con_in_ex.reset = inex_reset;
    s.con_in_ex.read_key_stroke_ex = inex_read_key_stroke_ex;
    s.con_in_ex.wait_for_key_ex =
        create_event(s, efi::kEvtNotifyWait, efi::kTplNotify, wait_for_key_notify, nullptr);
    s.con_in_ex.set_state = inex_set_state;
    s.con_in_ex.register_key_notify = inex_register_key_notify;
    s.con_in_ex.unregister_key_notify = inex_unregister_key_notify;
    s.con_in_handle = s.handles.install_new(efi::kSimpleTextInputProtocolGuid, &s.con_in);
    s.st.console_in_handle = s.con_in_handle;
    s.st.con_in = &s.con_in;
    set_extended_input(s, true);
}

void set_extended_input(SimFirmware::Impl& s, bool present) {
    if (present == s.ex_installed) return;
    if (present) {
        efi::Handle h = s.con_in_handle;
        s.handles.install(&h, efi::kSimpleTextInputExProtocolGuid, &s.con_in_ex);
    } else {
        s.handles.uninstall(s.con_in_handle, efi::kSimpleTextInputExProtocolGuid, &s.con_in_ex);
    }
    s.ex_installed = present;
}

void SimFirmware::push_key(char16_t ch, uint16_t scan, uint32_t shift_state, uint64_t delay_us) {
    queue_key(*impl_, ch, scan, shift_state, delay_us);
}

void SimFirmware::push_text(const std::string& utf8, uint64_t delay_us_each) {
    size_t i = 0;
    while (i < utf8.size()) {
        uint32_t cp = next_code_point(utf8, &i);
        if (cp == '\n') cp = '\r';
        if (cp == 0x1b) {
            queue_key(*impl_, 0, efi::kScanEsc, 0, delay_us_each);
            continue;
        }
        if (cp > 0xffff) cp = 0xfffd;
        queue_key(*impl_, static_cast<char16_t>(cp), 0, 0, delay_us_each);
    }
}

size_t SimFirmware::pending_keys() const { return impl_->keys.size(); }

void SimFirmware::set_extended_input(bool present) { sim::set_extended_input(*impl_, present); }

void SimFirmware::set_input_reset_flushes(bool flushes) { impl_->reset_flushes = flushes; }
void SimFirmware::set_key_notify_ignores_shift(bool ignores) { impl_->notify_ignores_shift = ignores; }

size_t SimFirmware::key_notify_count() const { return impl_->key_notifies.size(); }

}  // namespace sim
