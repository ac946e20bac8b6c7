// Replays inputs into a fuzz target when the build has no libFuzzer: a fixed number of
// deterministic pseudo-random inputs (argv[1], default 20000), then every file named
// after it; a folder named there (the target's seed corpus) gives every file in it, in
// name order. The sanitizers of the host build catch what goes wrong; the summary line
// says how much ran.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// xorshift64*: small, fast and the same on every machine.
struct Random {
    uint64_t state;
    uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545f4914f6cdd1dull;
    }
    uint64_t below(uint64_t n) { return n ? next() % n : 0; }
};

// Bytes that steer the targets into their interesting paths: format directives and
// their parts, digits and radix prefixes, wildcards, UTF-8 lead and continuation bytes.
const char kInteresting[] = "%%%%**??dsxXuoicp-+ 0#.lhjzt0123456789_&bBxXhHoO\t\n";

uint8_t random_byte(Random& r) {
    switch (r.below(10)) {
    case 0:
    case 1:
    case 2:
    case 3: return static_cast<uint8_t>(kInteresting[r.below(sizeof kInteresting - 1)]);
    case 4:
    case 5: return static_cast<uint8_t>(0x80 + r.below(0x80));
    case 6: return static_cast<uint8_t>(r.below(0x20));
    default: return static_cast<uint8_t>(0x20 + r.below(0x5f));
    }
}

std::vector<uint8_t> random_input(Random& r) {
    // Mostly short inputs, some up to the full 512 bytes.
    uint64_t length = r.below(4) == 0 ? r.below(513) : r.below(65);
    std::vector<uint8_t> input(length);
    for (uint8_t& b : input) b = random_byte(r);
    // Now and then a valid multi-byte UTF-8 sequence, so decoders see both kinds.
    if (length >= 4 && r.below(3) == 0) {
        uint64_t at = r.below(length - 3);
        const uint8_t seq[] = {0xf0, 0x9f, 0x98, 0x80};
        memcpy(&input[at], seq, 4 - r.below(3));
    }
    return input;
}

const char* base_name(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t count = 20000;
    if (argc > 1) {
        char* end = nullptr;
        unsigned long long n = strtoull(argv[1], &end, 10);
        if (end && *end == '\0') count = n;
    }
    Random random{0x9e3779b97f4a7c15ull};
    uint64_t bytes = 0;
    for (uint64_t i = 0; i < count; i++) {
        std::vector<uint8_t> input = random_input(random);
        bytes += input.size();
        LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    }
    std::vector<std::string> paths;
    for (int i = 2; i < argc; i++) {
        std::error_code error;
        if (!std::filesystem::is_directory(argv[i], error)) {
            paths.push_back(argv[i]);
            continue;
        }
        std::vector<std::string> inside;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
            if (entry.is_regular_file()) inside.push_back(entry.path().string());
        std::sort(inside.begin(), inside.end());
        if (inside.empty()) {
            fprintf(stderr, "%s: no inputs in %s\n", base_name(argv[0]), argv[i]);
            return 1;
        }
        paths.insert(paths.end(), inside.begin(), inside.end());
    }
    uint64_t files = 0;
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            fprintf(stderr, "%s: cannot read %s\n", base_name(argv[0]), path.c_str());
            return 1;
        }
        std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        bytes += input.size();
        LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
        files++;
    }
    printf("%s: %llu random inputs, %llu files, %llu bytes: ok\n", base_name(argv[0]),
           static_cast<unsigned long long>(count), static_cast<unsigned long long>(files),
           static_cast<unsigned long long>(bytes));
    return 0;
}
