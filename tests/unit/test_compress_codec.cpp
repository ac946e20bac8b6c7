// The EFI 1.1 codec: round trips of the data shapes that reach every part of the format,
// hand-made images for each rejection of the decoder, the length builder, and the images
// that OVMF's own Decompress protocol decoded (tests/data/compress).
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "compress/efi_codec.h"
#include "runtime/memory.h"
#include "sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes compress(const Bytes& in) {
    uint8_t* image = nullptr;
    uint64_t n = 0;
    EXPECT_TRUE(tarn::efi_compress(in.data(), in.size(), &image, &n));
    Bytes out(image, image + n);
    tarn::release(image);
    return out;
}

// The decoded bytes when ok.
struct Decoded {
    bool ok;
    Bytes data;
};

Decoded decompress(const Bytes& image) {
    uint8_t* out = nullptr;
    uint64_t n = 0;
    int r = tarn::efi_decompress(image.data(), image.size(), &out, &n);
    Decoded d{r == 0, {}};
    if (r == 0) d.data.assign(out, out + n);
    else EXPECT_EQ(out, nullptr);
    tarn::release(out);
    return d;
}

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

Bytes text(size_t n) {
    static const char* const words[] = {"firmware", "volume", "the", "shell", "of", "TARN",
                                        "handle", "protocol", "a", "boot", "variable", "EFI"};
    std::mt19937 rng(7);
    std::string s;
    while (s.size() < n) {
        s += words[rng() % 12];
        s += (rng() % 9 == 0) ? ".\n" : " ";
        if (rng() % 50 == 0) s += std::to_string(rng());
    }
    s.resize(n);
    return Bytes(s.begin(), s.end());
}

// Two byte values mixed at random: the C lengths have a run of exactly 19 zeros between
// 'A' (0x41) and 'U' (0x55), and runs of 20 and more before and after them.
Bytes two_values(size_t n) {
    std::mt19937 rng(19);
    Bytes b(n);
    for (auto& x : b) x = (rng() & 1) ? 'A' : 'U';
    return b;
}

// 8192 random bytes twice: the second half is a run of matches 8192 bytes back.
Bytes window_repeat() {
    Bytes half = random_bytes(8192, 3);
    Bytes b = half;
    b.insert(b.end(), half.begin(), half.end());
    return b;
}

struct RoundTrip {
    const char* name;
    std::function<Bytes()> make;
    // The image must be at most this size (0: no limit); shows that matches were used.
    size_t max_image;
};

class CompressCodec : public ::testing::Test {
protected:
    sim::SimFirmware fw;
    void TearDown() override { EXPECT_EQ(fw.outstanding_allocations(), 0); }
};

TEST_F(CompressCodec, RoundTrips) {
    const RoundTrip cases[] = {
        {"empty", [] { return Bytes{}; }, 8},
        {"one byte", [] { return Bytes{0x42}; }, 0},
        {"1 MiB of one value", [] { return Bytes(1 << 20, 0x5a); }, 4200},
        // Blocks after the first: one C symbol (a match of 256) and one P symbol.
        {"5 MiB of one value", [] { return Bytes(5 << 20, 0x5a); }, 4200},
        {"random", [] { return random_bytes(100000, 1); }, 0},
        {"text", [] { return text(300000); }, 120000},
        {"more than one block of literals", [] { return random_bytes(40000, 2); }, 0},
        {"zero runs of 19 and 20+", [] { return two_values(5000); }, 0},
        {"distance 8192", window_repeat, 8192 + 400},
        {"match length 256", [] { Bytes b = random_bytes(300, 4); b.insert(b.end(), b.begin(), b.begin() + 256); return b; }, 0},
        {"all byte values", [] { Bytes b; for (int r = 0; r < 40; r++) for (int v = 0; v < 256; v++) b.push_back(static_cast<uint8_t>(v * 37 + r)); return b; }, 0},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes in = c.make();
        Bytes image = compress(in);
        ASSERT_GE(image.size(), 8u);
        // The header holds the stream's size and the original size.
        const uint32_t stream = image[0] | image[1] << 8 | image[2] << 16 | static_cast<uint32_t>(image[3]) << 24;
        const uint32_t original = image[4] | image[5] << 8 | image[6] << 16 | static_cast<uint32_t>(image[7]) << 24;
        EXPECT_EQ(stream, image.size() - 8);
        EXPECT_EQ(original, in.size());
        if (c.max_image) EXPECT_LE(image.size(), c.max_image);
        Decoded d = decompress(image);
        ASSERT_TRUE(d.ok);
        EXPECT_TRUE(d.data == in);
        // Bytes after the stream are not looked at.
        image.push_back(0xff);
        image.push_back(0x00);
        EXPECT_TRUE(decompress(image).data == in);
    }
}

TEST_F(CompressCodec, EmptyInputIsEightZeroBytes) {
    EXPECT_EQ(compress({}), Bytes(8, 0));
    Decoded d = decompress(Bytes(8, 0));
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.data.empty());
}

// ---- hand-made images

// Bits most significant first, then the header in front.
struct Stream {
    std::vector<bool> bits;
    Stream& put(int n, uint32_t v) {
        for (int i = n - 1; i >= 0; i--) bits.push_back((v >> i) & 1);
        return *this;
    }
    Bytes image(uint32_t original, int64_t claimed = -1) const {
        Bytes data((bits.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits.size(); i++)
            if (bits[i]) data[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        uint32_t c = claimed < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(claimed);
        Bytes out = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16),
                     static_cast<uint8_t>(c >> 24), static_cast<uint8_t>(original),
                     static_cast<uint8_t>(original >> 8), static_cast<uint8_t>(original >> 16),
                     static_cast<uint8_t>(original >> 24)};
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
};

// Block size, single-symbol T; the caller continues with C and P.
Stream block(uint32_t symbols) { return Stream().put(16, symbols).put(5, 0).put(5, 0); }

TEST_F(CompressCodec, HandMadeValidImages) {
    // One block of 5 literals 'x' in the single-symbol forms: no code bits at all.
    Decoded d = decompress(block(5).put(9, 0).put(9, 'x').put(4, 0).put(4, 0).image(5));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(std::string(d.data.begin(), d.data.end()), "xxxxx");
    // Output stops at the original size, inside a block and inside a match: 'x', then a
    // match of 3 at distance 1 cut to 2.
    Stream s = Stream().put(16, 2);
    // C: two symbols 'x' (0x78) and 256, lengths 1 and 1 through T symbols.
    // T list: 4 lengths: T0 len 2, T1 len 2, T2 len 2, T3 len 2 (complete), z = 0.
    s.put(5, 4).put(3, 2).put(3, 2).put(3, 2).put(2, 0).put(3, 2);
    // C count 257: 120 zeros (T2 +100), 'x' length 1 (T3), 135 zeros (T2 +115), 256 length 1.
    s.put(9, 257).put(2, 2).put(9, 100).put(2, 3).put(2, 2).put(9, 115).put(2, 3);
    s.put(4, 0).put(4, 0);  // P: single symbol 0 (distance 1)
    s.put(1, 0).put(1, 1);  // 'x', match of 3
    d = decompress(s.image(3));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(std::string(d.data.begin(), d.data.end()), "xxx");
    // A P length of 7 and more is written with one-bits; bits past the data read as 0.
    Stream p = block(2).put(9, 0).put(9, 256);
    p.put(4, 2).put(3, 7).put(1, 0).put(3, 1);  // P0 length 7: incomplete -> rejected
    EXPECT_FALSE(decompress(p.image(4)).ok);
}

TEST_F(CompressCodec, Rejections) {
    Bytes good = compress(text(20000));
    ASSERT_TRUE(decompress(good).ok);
    struct Case {
        const char* name;
        Bytes image;
    };
    std::vector<Case> cases;
    for (size_t n = 0; n < 8; n++) cases.push_back({"shorter than the header", Bytes(good.begin(), good.begin() + n)});
    Bytes claimed = good;
    claimed.pop_back();
    cases.push_back({"claims one byte more than present", claimed});
    Bytes huge = good;
    huge[0] = huge[1] = huge[2] = huge[3] = 0xff;
    cases.push_back({"claimed size near 2^32", huge});
    Bytes big = good;
    big[4] = 0x01, big[5] = 0x00, big[6] = 0x00, big[7] = 0x40;
    cases.push_back({"original size 1 GiB + 1", big});
    big[4] = big[5] = big[6] = big[7] = 0xff;
    cases.push_back({"original size near 2^32", big});
    Bytes cut = good;
    cut.resize(good.size() / 2);
    uint32_t half = static_cast<uint32_t>(cut.size() - 8);
    for (int i = 0; i < 4; i++) cut[i] = static_cast<uint8_t>(half >> (8 * i));
    cases.push_back({"stream cut short (more than size + 1 bytes consumed)", cut});
    Bytes longer = good;
    longer[4]++;  // one more byte than the stream holds
    cases.push_back({"original size beyond the stream", longer});

    cases.push_back({"block size 0", Stream().put(16, 0).image(1)});
    cases.push_back({"T count above 19", Stream().put(16, 1).put(5, 20).image(1)});
    cases.push_back({"T single symbol 19", Stream().put(16, 1).put(5, 0).put(5, 19).image(1)});
    cases.push_back({"C count above 510", block(1).put(9, 511).image(1)});
    cases.push_back({"C single symbol 510", block(1).put(9, 0).put(9, 510).image(1)});
    cases.push_back({"P count above 14", block(1).put(9, 0).put(9, 'a').put(4, 15).image(1)});
    cases.push_back({"P single symbol 14", block(1).put(9, 0).put(9, 'a').put(4, 0).put(4, 14).image(1)});
    // T lengths 1 and 2: half a code and a quarter, incomplete.
    cases.push_back({"incomplete T code", Stream().put(16, 1).put(5, 2).put(3, 1).put(3, 2).image(1)});
    // T lengths 1, 1, 1: over-subscribed.
    cases.push_back({"over-subscribed T code", Stream().put(16, 1).put(5, 3).put(3, 1).put(3, 1).put(3, 1).put(2, 0).image(1)});
    // T length 17 (7 then ten one-bits).
    cases.push_back({"T length above 16", Stream().put(16, 1).put(5, 2).put(3, 7).put(10, 0x3ff).put(1, 0).put(3, 1).image(1)});
    // T single symbol 2 (runs of v + 20 zeros): 9 bits of 511 give 531 zeros.
    cases.push_back({"zero run past the C alphabet", Stream().put(16, 1).put(5, 0).put(5, 2).put(9, 510).put(9, 511).image(1)});
    // All C lengths zero through single-symbol T 0.
    cases.push_back({"C code without any length", Stream().put(16, 1).put(5, 0).put(5, 0).put(9, 3).image(1)});
    // A match first: distance 1 with no output yet.
    cases.push_back({"distance before the start", block(1).put(9, 0).put(9, 256).put(4, 0).put(4, 0).image(3)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decompress(c.image).ok);
        // The caller's buffer is checked against the header too.
        uint8_t small[4];
        EXPECT_EQ(tarn::efi_decompress_into(c.image.data(), c.image.size(), small, sizeof small), -1);
    }
    // The limits themselves are accepted by the header check.
    uint32_t compressed = 0, original = 0;
    Bytes limit = Stream().image(0x40000000);
    EXPECT_TRUE(tarn::efi_image_sizes(limit.data(), limit.size(), &compressed, &original));
    EXPECT_EQ(original, 0x40000000u);
    EXPECT_EQ(tarn::efi_decompress_into(good.data(), good.size(), nullptr, 19999), -1);
}

TEST_F(CompressCodec, InputsOverOneGibAreRefused) {
    uint8_t* image = reinterpret_cast<uint8_t*>(1);
    uint64_t n = 1;
    uint8_t byte = 0;
    EXPECT_FALSE(tarn::efi_compress(&byte, tarn::kEfiMaxOriginalSize + 1, &image, &n));
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(n, 0u);
}

TEST_F(CompressCodec, DecodedSizeMemoryFailureIsNotFatal) {
    Bytes image = compress(text(5000));
    fw.fail_allocations_from(0);
    EXPECT_FALSE(decompress(image).ok);
    fw.fail_allocations_from(1);  // the output, then the tables
    EXPECT_FALSE(decompress(image).ok);
    fw.fail_allocations_from(-1);
    EXPECT_TRUE(decompress(image).ok);
    // An image that claims the largest original size: memory for it is simply missing.
    Bytes at_cap = image;
    at_cap[4] = at_cap[5] = at_cap[6] = 0;
    at_cap[7] = 0x40;
    fw.fail_allocations_from(0);
    EXPECT_FALSE(decompress(at_cap).ok);
    fw.fail_allocations_from(-1);
}

// ---- the length builder

uint64_t kraft_sum(const uint8_t* lengths, int n) {
    uint64_t sum = 0;
    for (int s = 0; s < n; s++)
        if (lengths[s]) sum += 1ull << (16 - lengths[s]);
    return sum;
}

TEST_F(CompressCodec, CodeLengths) {
    // Fibonacci frequencies make a tree 25 deep: halving brings it to at most 16.
    uint32_t fib[26];
    fib[0] = fib[1] = 1;
    for (int i = 2; i < 26; i++) fib[i] = fib[i - 1] + fib[i - 2];
    uint8_t lengths[510];
    tarn::efi_code_lengths(fib, 26, lengths);
    for (int s = 0; s < 26; s++) {
        EXPECT_GE(lengths[s], 1) << s;
        EXPECT_LE(lengths[s], 16) << s;
    }
    EXPECT_EQ(kraft_sum(lengths, 26), 1u << 16);
    // More frequent symbols never get longer codes.
    for (int s = 1; s < 26; s++) EXPECT_LE(lengths[s], lengths[s - 1]);

    // Equal frequencies: a balanced code; ties go to the earlier node, so the lower
    // symbols are merged first and end deeper when the count is not a power of two.
    uint32_t equal[5] = {1, 1, 1, 1, 1};
    tarn::efi_code_lengths(equal, 5, lengths);
    EXPECT_EQ(std::vector<int>(lengths, lengths + 5), (std::vector<int>{3, 3, 2, 2, 2}));

    uint32_t one[4] = {0, 9, 0, 0};
    tarn::efi_code_lengths(one, 4, lengths);
    EXPECT_EQ(std::vector<int>(lengths, lengths + 4), (std::vector<int>{0, 0, 0, 0}));
    uint32_t two[4] = {0, 9, 0, 1};
    tarn::efi_code_lengths(two, 4, lengths);
    EXPECT_EQ(std::vector<int>(lengths, lengths + 4), (std::vector<int>{0, 1, 0, 1}));
}

// ---- images OVMF's Decompress protocol decoded (made by the firmware test)

std::string data_dir() { return std::string(TARN_SOURCE_DIR) + "/tests/data/compress/"; }

Bytes read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f.good()) << path;
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TEST_F(CompressCodec, ImagesTheFirmwareDecoded) {
    // Each line: IMAGE ORIGINAL, where ORIGINAL is a file or fill:BYTE:COUNT.
    std::ifstream list(data_dir() + "vectors.txt");
    ASSERT_TRUE(list.good());
    std::string line;
    int checked = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string image_name, original_name;
        words >> image_name >> original_name;
        SCOPED_TRACE(image_name);
        Bytes original;
        if (original_name.rfind("fill:", 0) == 0) {
            unsigned value = 0;
            size_t count = 0;
            ASSERT_EQ(sscanf(original_name.c_str(), "fill:%x:%zu", &value, &count), 2);
            original.assign(count, static_cast<uint8_t>(value));
        } else {
            original = read_bytes(data_dir() + original_name);
        }
        Bytes image = read_bytes(data_dir() + image_name);
        Decoded d = decompress(image);
        ASSERT_TRUE(d.ok);
        EXPECT_TRUE(d.data == original);
        // The encoder is deterministic: it makes the same image again.
        EXPECT_TRUE(compress(original) == image);
        checked++;
    }
    EXPECT_GE(checked, 6);
}

}  // namespace
