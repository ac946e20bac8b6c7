// Wildcard matching against a dynamic-programming reference. The input is split at its
// first newline (or in half) into pattern and text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/strings.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

char folded(char c, bool fold) {
    return fold && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool reference(const std::string& p, const std::string& t, bool fold) {
    // row[j]: the pattern bytes so far match the first j text bytes (one row per pattern byte).
    std::vector<char> row(t.size() + 1, 0), next(t.size() + 1, 0);
    row[0] = 1;
    for (char pc : p) {
        next[0] = pc == '*' && row[0];
        for (size_t j = 1; j <= t.size(); j++) {
            if (pc == '*') {
                next[j] = row[j] || next[j - 1];
            } else {
                bool same = pc == '?' || folded(pc, fold) == folded(t[j - 1], fold);
                next[j] = same && row[j - 1];
            }
        }
        row.swap(next);
    }
    return row[t.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\n');
    if (cut == std::string::npos) cut = input.size() / 2;
    std::string pattern = input.substr(0, cut);
    std::string text = cut < input.size() ? input.substr(cut + 1) : std::string();
    pattern = pattern.c_str();
    text = text.c_str();
    for (bool fold : {false, true}) {
        bool got = tarn::wildcard_match(pattern.c_str(), text.c_str(), fold);
        check(got == reference(pattern, text, fold));
    }
    return 0;
}
