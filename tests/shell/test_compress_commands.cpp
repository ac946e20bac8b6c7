// eficompress and efidecompress over the simulated firmware: the size lines, the choice
// between the firmware's Decompress protocol and the built-in decoder, and every damaged
// input giving the message and exit code 1 with no output file left behind.
#include <random>

#include "compress/efi_codec.h"
#include "decompress.h"
#include "command_test.h"

using namespace tarn_test;

namespace {

const char kDamaged[] = " is not in the UEFI compressed format or is damaged\n";

std::string compressed(const std::string& data) {
    uint8_t* image = nullptr;
    uint64_t n = 0;
    EXPECT_TRUE(tarn::efi_compress(reinterpret_cast<const uint8_t*>(data.data()), data.size(), &image, &n));
    std::string out(reinterpret_cast<char*>(image), n);
    tarn::release(image);
    return out;
}

std::string sample_text() {
    std::string s;
    for (int i = 0; i < 400; i++) s += "line " + std::to_string(i * 7919 % 1000) + " of the sample\n";
    return s;
}

std::string header(uint32_t stream, uint32_t original) {
    std::string h(8, '\0');
    for (int i = 0; i < 4; i++) {
        h[i] = static_cast<char>(stream >> (8 * i));
        h[4 + i] = static_cast<char>(original >> (8 * i));
    }
    return h;
}

struct CompressShell : CommandShell {
    CompressShell() : CommandShell(text_commands()) {}
    void file(const std::string& path, const std::string& content) { add_file(path, content); }
    std::string stored(const std::string& path) { return file_content(path); }
    std::string out(const std::string& line) { return run(line).out; }
};

TEST(CompressCommands, RoundTripAndSizeLines) {
    CompressShell s;
    const std::string text = sample_text();
    s.file("a.txt", text);
    s.file("empty", "");
    auto r = s.run("eficompress a.txt a.z");
    ASSERT_EQ(r.code, 0) << r.errors;
    const std::string image = s.stored("a.z");
    EXPECT_EQ(image, compressed(text));
    EXPECT_EQ(r.out, "a.z: " + std::to_string(text.size()) + " -> " + std::to_string(image.size()) + " bytes\n");
    // No Decompress protocol: the built-in decoder, with and without -n.
    for (const char* line : {"efidecompress a.z b.txt", "efidecompress -n a.z c.txt", "efidecompress -N a.z d.txt"}) {
        r = s.run(line);
        EXPECT_EQ(r.code, 0) << line << r.errors;
        EXPECT_EQ(r.errors, "");
    }
    EXPECT_EQ(s.stored("b.txt"), text);
    EXPECT_EQ(s.stored("c.txt"), text);
    EXPECT_EQ(s.stored("d.txt"), text);
    EXPECT_EQ(s.out("efidecompress a.z b.txt"),
              "b.txt: " + std::to_string(image.size()) + " -> " + std::to_string(text.size()) + " bytes\n");
    // An empty file becomes 8 zero bytes and comes back empty; OUTFILE is replaced.
    EXPECT_EQ(s.out("eficompress empty a.z"), "a.z: 0 -> 8 bytes\n");
    EXPECT_EQ(s.stored("a.z"), std::string(8, '\0'));
    EXPECT_EQ(s.out("efidecompress a.z b.txt"), "b.txt: 8 -> 0 bytes\n");
    EXPECT_EQ(s.stored("b.txt"), "");
}

TEST(CompressCommands, FirmwareProtocolIsUsedUnlessMinusN) {
    CompressShell s;
    sim::DecompressControl& dp = sim::install_decompress_protocol(s.fw);
    const std::string text = sample_text();
    s.file("a.z", compressed(text));
    EXPECT_EQ(s.run("efidecompress a.z fw.txt").code, 0);
    EXPECT_EQ(dp.get_info_calls, 1);
    EXPECT_EQ(dp.decompress_calls, 1);
    EXPECT_EQ(s.stored("fw.txt"), text);
    EXPECT_EQ(s.run("efidecompress -n a.z own.txt").code, 0);
    EXPECT_EQ(dp.get_info_calls, 1);
    EXPECT_EQ(s.stored("own.txt"), text);

    // A failing firmware decoder is the answer: no second try with the built-in one.
    struct Failure {
        const char* name;
        tarn::efi::Status get_info, decompress;
        bool override_size;
        uint32_t size;
    };
    const Failure failures[] = {
        {"GetInfo fails", tarn::efi::kInvalidParameter, 0, false, 0},
        {"Decompress fails", 0, tarn::efi::kVolumeCorrupted, false, 0},
        {"size above 1 GiB", 0, 0, true, 0x40000001},
        {"size near 2^32", 0, 0, true, 0xffffffff},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        dp.get_info_status = f.get_info;
        dp.decompress_status = f.decompress;
        dp.override_size = f.override_size;
        dp.reported_size = f.size;
        auto r = s.run("efidecompress a.z out.txt");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.errors, std::string("efidecompress: a.z") + kDamaged);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(s.exists("out.txt"));
        EXPECT_EQ(s.run("efidecompress -n a.z out.txt").code, 0);
        EXPECT_EQ(s.stored("out.txt"), text);
        ASSERT_EQ(s.run("rm out.txt").code, 0);
    }
}

TEST(CompressCommands, DamagedInputsLeaveNoOutput) {
    CompressShell s;
    const std::string good = compressed(sample_text());
    std::vector<std::pair<std::string, std::string>> inputs;
    for (size_t n = 0; n < 8; n++) inputs.push_back({"short " + std::to_string(n), good.substr(0, n)});
    inputs.push_back({"truncated", good.substr(0, good.size() - 1)});
    inputs.push_back({"stream size near 2^32", header(0xfffffff8, 10) + good.substr(8)});
    inputs.push_back({"original size over 1 GiB", header(static_cast<uint32_t>(good.size() - 8), 0x40000001) + good.substr(8)});
    inputs.push_back({"original size near 2^32", header(static_cast<uint32_t>(good.size() - 8), 0xffffffff) + good.substr(8)});
    std::mt19937 rng(5);
    for (int k = 0; k < 6; k++) {
        std::string noise(8 + rng() % 300, '\0');
        for (char& c : noise) c = static_cast<char>(rng());
        inputs.push_back({"random " + std::to_string(k), header(static_cast<uint32_t>(noise.size() - 8), 1000) + noise.substr(8)});
    }
    std::string flipped = good;
    flipped[12] = static_cast<char>(flipped[12] ^ 0xff);
    inputs.push_back({"flipped table bits", flipped});

    s.file("keep.txt", "old");
    for (bool firmware : {false, true}) {
        if (firmware) sim::install_decompress_protocol(s.fw);
        for (const auto& [name, bytes] : inputs) {
            SCOPED_TRACE(name + (firmware ? " (firmware)" : ""));
            s.file("bad.z", bytes);
            for (const char* line : {"efidecompress bad.z out.bin", "efidecompress -n bad.z out.bin",
                                     "efidecompress -n bad.z keep.txt"}) {
                auto r = s.run(line);
                EXPECT_EQ(r.code, 1) << line;
                EXPECT_EQ(r.errors, std::string("efidecompress: bad.z") + kDamaged) << line;
                EXPECT_FALSE(s.exists("out.bin"));
            }
            EXPECT_EQ(s.stored("keep.txt"), "old");
        }
    }
}

TEST(CompressCommands, UsageAndFileErrors) {
    CompressShell s;
    s.file("a.txt", "abc");
    for (const char* line : {"eficompress", "eficompress a.txt", "eficompress a.txt b c", "efidecompress",
                             "efidecompress a.txt", "efidecompress -n a.txt", "efidecompress a b c",
                             "efidecompress -x a b", "eficompress -n a.txt b"}) {
        auto r = s.run(line);
        EXPECT_EQ(r.code, 2) << line;
        EXPECT_NE(r.errors.find("usage: "), std::string::npos) << line;
    }
    auto r = s.run("eficompress missing.txt out.z");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "eficompress: fs0:\\missing.txt: not found\n");
    r = s.run("efidecompress fs7:\\a.z out.txt");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "efidecompress: fs7:\\a.z: not found\n");
    r = s.run("eficompress a.txt fs7:\\out.z");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors, "eficompress: fs7:\\out.z: invalid path\n");
    // A write error names OUTFILE.
    sim::fail_writes_after(s.fw, s.volumes[0], 0);
    r = s.run("eficompress a.txt out.z");
    sim::fail_writes_after(s.fw, s.volumes[0], -1);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.errors.rfind("eficompress: fs0:\\out.z: ", 0), 0u) << r.errors;
    EXPECT_EQ(r.out, "");
}

}  // namespace
