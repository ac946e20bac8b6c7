// The protocol-name registry, the component-name language rules and the PE debug name.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "driver_images.h"
#include "drivers/handle_info.h"
#include "drivers/pe_debug_name.h"
#include "drivers/protocol_names.h"
#include "sim.h"
#include "vars/variable_text.h"

using namespace tarn;
using tarn_test::DebugImage;

namespace {

std::string guid_text(const efi::Guid& g) {
    char text[kGuidTextSize];
    format_guid(g, text);
    return text;
}

TEST(DriversProtocolNames, BuiltinTableIsCompleteAndUnique) {
    sim::SimFirmware fw;
    ASSERT_EQ(builtin_protocol_count(), 60u);
    std::set<std::string> names, guids;
    for (uint64_t i = 0; i < builtin_protocol_count(); i++) {
        efi::Guid g;
        const char* name = builtin_protocol_name(i, &g);
        ASSERT_NE(name, nullptr);
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_TRUE(guids.insert(guid_text(g)).second) << name;
        efi::Guid back;
        ASSERT_TRUE(protocol_guid(name, &back));
        EXPECT_EQ(guid_text(back), guid_text(g));
    }
    EXPECT_EQ(builtin_protocol_name(60, nullptr), nullptr);
    EXPECT_STREQ(builtin_protocol_name(0, nullptr), "LoadedImage");
    EXPECT_STREQ(builtin_protocol_name(59, nullptr), "Smbios3Table");
}

TEST(DriversProtocolNames, LookupsBothWays) {
    sim::SimFirmware fw;
    struct Case {
        const char* typed;
        const char* guid;  // null: not found
        const char* name;
    } cases[] = {
        {"BlockIo", "964e5b21-6459-11d2-8e39-00a0c969723b", "BlockIo"},
        {"blockio", "964e5b21-6459-11d2-8e39-00a0c969723b", "BlockIo"},
        {"PCIIO", "4cf5b200-68b8-4ca5-9eec-b23e3f50029a", "PciIo"},
        {"964E5B22-6459-11D2-8E39-00A0C969723B", "964e5b22-6459-11d2-8e39-00a0c969723b", "SimpleFileSystem"},
        {"DriverConfiguration2", "bfd7dc1d-24f1-40d9-82e7-2e09bb6b4ebe", "DriverConfiguration2"},
        {"GlobalVariable", "8be4df61-93ca-11d2-aa0d-00e098032b8c", "GlobalVariable"},
        {"12345678-1234-1234-1234-123456789abc", "12345678-1234-1234-1234-123456789abc", nullptr},
        {"global", nullptr, nullptr},  // a variable table's short name is not a protocol
        {"NoSuchProtocol", nullptr, nullptr},
        {"964e5b21-6459-11d2-8e39-00a0c969723", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        efi::Guid g{};
        const bool found = parse_protocol(c.typed, &g);
        EXPECT_EQ(found, c.guid != nullptr) << c.typed;
        if (!found) continue;
        EXPECT_EQ(guid_text(g), c.guid) << c.typed;
        const char* name = protocol_name(g);
        EXPECT_EQ(name ? std::string(name) : "", c.name ? c.name : "") << c.typed;
        char text[kProtocolTextSize];
        protocol_text(g, text);
        EXPECT_EQ(std::string(text), c.name ? std::string(c.name) : "12345678-1234-1234-1234-123456789abc");
    }
}

TEST(DriversProtocolNames, RunTimeNamesAreSearchedFirst) {
    sim::SimFirmware fw;
    efi::Guid block;
    ASSERT_TRUE(protocol_guid("BlockIo", &block));
    const efi::Guid mine = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}};
    EXPECT_FALSE(register_protocol_name(mine, ""));
    ASSERT_TRUE(register_protocol_name(mine, "MyProto"));
    ASSERT_TRUE(register_protocol_name(block, "MyBlocks"));
    EXPECT_STREQ(protocol_name(mine), "MyProto");
    EXPECT_STREQ(protocol_name(block), "MyBlocks");
    efi::Guid g;
    ASSERT_TRUE(protocol_guid("myproto", &g));
    EXPECT_EQ(guid_text(g), guid_text(mine));
    // The built-in name still finds its GUID; renaming replaces the run-time entry.
    ASSERT_TRUE(protocol_guid("BlockIo", &g));
    EXPECT_EQ(guid_text(g), guid_text(block));
    ASSERT_TRUE(register_protocol_name(mine, "Renamed"));
    EXPECT_STREQ(protocol_name(mine), "Renamed");
    EXPECT_FALSE(protocol_guid("MyProto", &g));
    reset_protocol_names();
    EXPECT_STREQ(protocol_name(block), "BlockIo");
    EXPECT_EQ(protocol_name(mine), nullptr);
}

TEST(DriversNames, ComponentName2Language) {
    struct Case {
        const char* supported;
        const char* wanted;
        const char* expected;
    } cases[] = {
        {"en;fr", "fr", "fr"},
        {"en;fr", "de", "en"},
        {"en-US;fr", nullptr, "en-US"},
        {"fr;de", "en", "fr"},        // nothing matches: the first entry
        {"fr-FR;de", nullptr, "fr-FR"},
        {"english;en-USA", nullptr, "english"},  // only whole entries match
        {"", "fr", "en"},
        {nullptr, nullptr, "en"},
        {"en", "e", "en"},
        {"zh-Hans;en", "zh-Hans", "zh-Hans"},
    };
    for (const Case& c : cases) {
        char out[32];
        component_name2_language(c.supported, c.wanted, out, sizeof out);
        EXPECT_STREQ(out, c.expected) << (c.supported ? c.supported : "(null)");
    }
}

TEST(DriversNames, ComponentNameLanguage) {
    EXPECT_STREQ(component_name_language("fra"), "fra");
    EXPECT_STREQ(component_name_language("fr"), "eng");
    EXPECT_STREQ(component_name_language("fr-FR"), "eng");
    EXPECT_STREQ(component_name_language(nullptr), "eng");
}

std::string name_of(const std::vector<uint8_t>& image, uint64_t size = ~0ull) {
    char out[64];
    const bool ok = pe_debug_name(image.data(), size == ~0ull ? image.size() : size, out, sizeof out);
    EXPECT_EQ(ok, out[0] != 0);
    return out;
}

DebugImage with(void (*change)(DebugImage&)) {
    DebugImage d;
    change(d);
    return d;
}

TEST(DriversPeName, WellFormedRecords) {
    struct Case {
        const char* what;
        DebugImage image;
        const char* expected;
    } cases[] = {
        {"RSDS", DebugImage{}, "TestDrv"},
        {"NB10", with([](DebugImage& d) { d.signature = "NB10"; d.path = "d:\\out\\Old.pdb"; }), "Old"},
        {"MTOC", with([](DebugImage& d) { d.signature = "MTOC"; d.path = "/Users/me/build/MacDrv.dll"; }), "MacDrv"},
        {"forward slashes", with([](DebugImage& d) { d.path = "/home/b/x/Shell.debug"; }), "Shell"},
        {"no folder", with([](DebugImage& d) { d.path = "Plain.pdb"; }), "Plain"},
        {"no extension", with([](DebugImage& d) { d.path = "c:\\a\\NoExt"; }), "NoExt"},
        {"two dots", with([](DebugImage& d) { d.path = "c:\\a\\a.b.pdb"; }), "a.b"},
        {"PE32", with([](DebugImage& d) { d.magic = 0x10b; }), "TestDrv"},
        {"seven directories", with([](DebugImage& d) { d.directories = 7; }), "TestDrv"},
        {"record ends the image",
         with([](DebugImage& d) { d.path = "x\\End.pdb"; d.size = 0x240 + 24 + 10; d.record_rva = 0x240; }), "End"},
        {"second entry", with([](DebugImage& d) { d.debug_size = 56; }), "TestDrv"},
    };
    for (const Case& c : cases) EXPECT_EQ(name_of(debug_image(c.image)), c.expected) << c.what;
}

TEST(DriversPeName, HostileImagesGiveNoName) {
    struct Case {
        const char* what;
        DebugImage image;
    } cases[] = {
        {"no NUL inside the record", with([](DebugImage& d) { d.terminate = false; })},
        {"record past the image", with([](DebugImage& d) { d.record_rva = 0x3f0; d.record_size = 0x20; })},
        {"record size wraps", with([](DebugImage& d) { d.record_size = 0xffffffff; })},
        {"record address wraps", with([](DebugImage& d) { d.record_rva = 0xfffffff0; })},
        {"path offset past the record", with([](DebugImage& d) { d.record_size = 24; })},
        {"short record", with([](DebugImage& d) { d.record_size = 3; })},
        {"debug directory past the image", with([](DebugImage& d) { d.debug_rva = 0x3f0; d.debug_size = 28; })},
        {"debug directory wraps", with([](DebugImage& d) { d.debug_rva = 0xffffffff; })},
        {"empty debug directory", with([](DebugImage& d) { d.debug_size = 0; })},
        {"six directories", with([](DebugImage& d) { d.directories = 6; })},
        {"other magic", with([](DebugImage& d) { d.magic = 0x107; })},
        {"PE header past the image", with([](DebugImage& d) { d.e_lfanew = 0x3f8; })},
        {"PE header offset wraps", with([](DebugImage& d) { d.e_lfanew = 0xfffffffc; })},
        {"unknown signature", with([](DebugImage& d) { d.signature = "ABCD"; })},
        {"not CodeView", with([](DebugImage& d) { d.type = 4; })},
        {"empty name", with([](DebugImage& d) { d.path = "c:\\dir\\"; })},
        {"only an extension", with([](DebugImage& d) { d.path = ".pdb"; })},
        {"smaller than 512 bytes", with([](DebugImage& d) { d.size = 511; d.debug_rva = 0x100; d.record_rva = 0x140; })},
    };
    for (const Case& c : cases) EXPECT_EQ(name_of(debug_image(c.image)), "") << c.what;
    // Not "MZ"; null; and a size smaller than the bytes the header claims.
    auto image = debug_image(DebugImage{});
    image[0] = 'Z';
    EXPECT_EQ(name_of(image), "");
    char out[8] = "x";
    EXPECT_FALSE(pe_debug_name(nullptr, 4096, out, sizeof out));
    EXPECT_EQ(name_of(debug_image(DebugImage{}), 0x250), "");
}

TEST(DriversPeName, HeadersPresent) {
    struct Case {
        const char* what;
        DebugImage image;
        uint64_t size;
        bool present;
    } cases[] = {
        {"PE32+", DebugImage{}, 1024, true},
        {"PE32", with([](DebugImage& d) { d.magic = 0x10b; }), 1024, true},
        {"other magic", with([](DebugImage& d) { d.magic = 0x107; }), 1024, false},
        {"signature past the end", with([](DebugImage& d) { d.e_lfanew = 0x3f0; }), 1024, false},
        {"header cut", DebugImage{}, 0x80 + 25, false},
        {"header whole", DebugImage{}, 0x80 + 26, true},
        {"too short for MZ", DebugImage{}, 0x3f, false},
    };
    for (const Case& c : cases) {
        auto image = debug_image(c.image);
        EXPECT_EQ(pe_headers_present(image.data(), c.size), c.present) << c.what;
    }
    auto image = debug_image(DebugImage{});
    image[1] = 'X';
    EXPECT_FALSE(pe_headers_present(image.data(), image.size()));
}

TEST(DriversPeName, LongNamesAreCut) {
    DebugImage d;
    d.path = "c:\\" + std::string(100, 'N') + ".pdb";
    auto image = debug_image(d);
    char out[16];
    ASSERT_TRUE(pe_debug_name(image.data(), image.size(), out, sizeof out));
    EXPECT_EQ(std::string(out), std::string(15, 'N'));
}

}  // namespace
