// Keys for the editor tests, written as text: plain characters stand for themselves and
// braces name the others: {Up} {Down} {Left} {Right} {Home} {End} {PgUp} {PgDn} {Ins}
// {Del} {BS} {Tab} {Enter} {Esc} {F1}..{F10}, {^x} for Ctrl-x, {Alt-x} for Alt+x.
// A key after {Esc} comes a moment later, so that it is not read as part of a sequence.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "sim.h"
#include "uefi/console.h"

namespace tarn_test {

inline void type_keys(sim::SimFirmware& fw, const std::string& keys) {
    uint64_t delay = 0;
    auto push = [&](char16_t ch, uint16_t scan, uint32_t shift = 0) {
        fw.push_key(ch, scan, shift, delay);
        delay = scan == tarn::efi::kScanEsc ? 300000 : 0;
    };
    for (size_t i = 0; i < keys.size(); i++) {
        if (keys[i] != '{') {
            push(static_cast<unsigned char>(keys[i]), 0);
            continue;
        }
        const size_t end = keys.find('}', i + 1);
        ASSERT_NE(end, std::string::npos) << keys;
        const std::string name = keys.substr(i + 1, end - i - 1);
        i = end;
        static const struct {
            const char* name;
            char16_t ch;
            uint16_t scan;
        } kNamed[] = {
            {"Up", 0, 1},     {"Down", 0, 2},    {"Right", 0, 3},   {"Left", 0, 4},
            {"Home", 0, 5},   {"End", 0, 6},     {"Ins", 0, 7},     {"Del", 0, 8},
            {"PgUp", 0, 9},   {"PgDn", 0, 10},   {"Esc", 0, 0x17},  {"BS", 8, 0},
            {"Tab", 9, 0},    {"Enter", 13, 0},  {"F1", 0, 0x0b},   {"F2", 0, 0x0c},
            {"F3", 0, 0x0d},  {"F4", 0, 0x0e},   {"F5", 0, 0x0f},   {"F6", 0, 0x10},
            {"F7", 0, 0x11},  {"F8", 0, 0x12},   {"F9", 0, 0x13},   {"F10", 0, 0x14},
        };
        bool found = false;
        for (const auto& k : kNamed) {
            if (name == k.name) {
                push(k.ch, k.scan);
                found = true;
            }
        }
        if (found) continue;
        if (name.size() == 2 && name[0] == '^') {
            push(static_cast<char16_t>(tolower(static_cast<unsigned char>(name[1])) - 'a' + 1), 0);
        } else if (name.size() == 5 && name.compare(0, 4, "Alt-") == 0) {
            push(static_cast<unsigned char>(name[4]), 0, tarn::efi::kShiftStateValid | tarn::efi::kLeftAltPressed);
        } else {
            ADD_FAILURE() << "unknown key {" << name << "}";
        }
    }
}

}  // namespace tarn_test
