// The command-line splitter against a straightforward model of the syntax, in all three
// modes (with redirection, raw with redirection, plain words). Every block the splitter
// allocates must be released again, on success and on error alike.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_pool.h"
#include "runtime/memory.h"
#include "shell/command_line.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

struct Model {
    bool ok = true;
    std::string error;
    std::vector<std::string> words;
    bool has_target = false;
    std::string target;
    bool append = false;
};

bool blank(char c) { return c == ' ' || c == '\t'; }

Model model(const std::string& line, bool redirect, bool raw) {
    Model m;
    size_t i = 0;
    const size_t n = line.size();
    while (true) {
        while (i < n && blank(line[i])) i++;
        if (i >= n) break;
        if (redirect && line[i] == '>') {
            bool append = false;
            i++;
            if (i < n && line[i] == '>') {
                append = true;
                i++;
            }
            while (i < n && blank(line[i])) i++;
            std::string name;
            bool quoted = false;
            for (; i < n; i++) {
                if (line[i] == '"') {
                    quoted = !quoted;
                    continue;
                }
                if (!quoted && blank(line[i])) break;
                name += line[i];
            }
            if (name.empty()) {
                m.ok = false;
                m.error = "missing file name after >";
                return m;
            }
            m.has_target = true;
            m.target = name;
            m.append = append;
            continue;
        }
        std::string word;
        bool quoted = false;
        for (; i < n; i++) {
            char c = line[i];
            if (quoted) {
                if (c == '"') {
                    if (!raw && i + 1 < n && line[i + 1] == '"') {
                        word += '"';
                        i++;
                        continue;
                    }
                    quoted = false;
                    if (raw) word += '"';
                    continue;
                }
                word += c;
                continue;
            }
            if (blank(c) || (redirect && c == '>')) break;
            if (c == '"') {
                quoted = true;
                if (raw) word += '"';
                continue;
            }
            word += c;
        }
        if (quoted) {
            m.ok = false;
            m.error = "unterminated quote";
            return m;
        }
        m.words.push_back(word);
    }
    return m;
}

void compare(const std::string& line, bool redirect, bool raw) {
    const Model expected = model(line, redirect, raw);
    const long before = fuzz::outstanding();
    int count = -1;
    const char* error = nullptr;
    char* target = nullptr;
    bool append = false;
    char** words = redirect ? tarn::split_command_line(line.c_str(), &count, &error, &target,
                                                       &append, raw)
                            : tarn::split_words(line.c_str(), &count, &error);
    if (!expected.ok) {
        check(words == nullptr);
        check(error && expected.error == error);
        check(target == nullptr);
        check(fuzz::outstanding() == before);
        return;
    }
    check(words != nullptr);
    check(count == static_cast<int>(expected.words.size()));
    for (int k = 0; k < count; k++) check(expected.words[k] == words[k]);
    check(words[count] == nullptr);
    if (redirect) {
        check((target != nullptr) == expected.has_target);
        if (target) {
            check(expected.target == target);
            check(append == expected.append);
        }
    }
    tarn::free_words(words);
    tarn::release(target);
    check(fuzz::outstanding() == before);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool installed = false;
    if (!installed) {
        fuzz::install_pool();
        installed = true;
    }
    // The splitter reads a C string: the line ends at the first NUL.
    std::string line(reinterpret_cast<const char*>(data), size);
    line = line.c_str();
    compare(line, true, false);
    compare(line, true, true);
    compare(line, false, false);
    // The same bytes over the syntax's own alphabet, so quotes, blanks and '>' are dense.
    static const char kAlphabet[] = "\"> \tab>\"";
    std::string dense;
    for (size_t i = 0; i < size; i++) dense += kAlphabet[data[i] % (sizeof kAlphabet - 1)];
    compare(dense, true, false);
    compare(dense, true, true);
    compare(dense, false, false);
    return 0;
}
