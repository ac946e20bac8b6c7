// The Shell protocol as an application calls it: slot layout, installation over another
// shell's protocol, the environment, Execute, help texts, files and GUID texts.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "handles.h"
#include "images/images.h"
#include "images/shell_files.h"
#include "images/shell_protocol.h"
#include "uefi/guids.h"
#include "command_test.h"

using namespace tarn;
using namespace tarn_test;

namespace {

std::string narrow(const char16_t* s) {
    std::string out;
    for (; s && *s; s++) out += static_cast<char>(*s);
    return out;
}

TEST(ImagesShellProtocol, SlotsInTheStandardOrder) {
    struct Row {
        const char* slot;
        size_t offset;
        size_t expected;
    } rows[] = {
#define SLOT(member, index) {#member, offsetof(efi::ShellProtocol, member), (index) * 8}
        SLOT(execute, 0), SLOT(get_env, 1), SLOT(set_env, 2), SLOT(get_alias, 3), SLOT(set_alias, 4),
        SLOT(get_help_text, 5), SLOT(get_device_path_from_map, 6), SLOT(get_map_from_device_path, 7),
        SLOT(get_device_path_from_file_path, 8), SLOT(get_file_path_from_device_path, 9), SLOT(set_map, 10),
        SLOT(get_cur_dir, 11), SLOT(set_cur_dir, 12), SLOT(open_file_list, 13), SLOT(free_file_list, 14),
        SLOT(remove_dup_in_file_list, 15), SLOT(batch_is_active, 16), SLOT(is_root_shell, 17),
        SLOT(enable_page_break, 18), SLOT(disable_page_break, 19), SLOT(get_page_break, 20),
        SLOT(get_device_name, 21), SLOT(get_file_info, 22), SLOT(set_file_info, 23),
        SLOT(open_file_by_name, 24), SLOT(close_file, 25), SLOT(create_file, 26), SLOT(read_file, 27),
        SLOT(write_file, 28), SLOT(delete_file, 29), SLOT(delete_file_by_name, 30),
        SLOT(get_file_position, 31), SLOT(set_file_position, 32), SLOT(flush_file, 33), SLOT(find_files, 34),
        SLOT(find_files_in_dir, 35), SLOT(get_file_size, 36), SLOT(open_root, 37),
        SLOT(open_root_by_handle, 38), SLOT(execution_break, 39),
        {"major_version", offsetof(efi::ShellProtocol, major_version), 320},
        {"minor_version", offsetof(efi::ShellProtocol, minor_version), 324},
        {"register_guid_name", offsetof(efi::ShellProtocol, register_guid_name), 328},
        {"get_guid_name", offsetof(efi::ShellProtocol, get_guid_name), 336},
        {"get_guid_from_name", offsetof(efi::ShellProtocol, get_guid_from_name), 344},
        {"get_env_ex", offsetof(efi::ShellProtocol, get_env_ex), 352},
#undef SLOT
    };
    EXPECT_EQ(sizeof(rows) / sizeof(rows[0]), 46u);
    for (const Row& row : rows) EXPECT_EQ(row.offset, row.expected) << row.slot;
    // Every function slot is filled.
    efi::ShellProtocol* p = shell_protocol();
    const void* const* slots = reinterpret_cast<const void* const*>(p);
    for (int i = 0; i < 39; i++) EXPECT_NE(slots[i], nullptr) << "slot " << i;
    for (int i = 41; i < 45; i++) EXPECT_NE(slots[i], nullptr) << "slot " << i;
    EXPECT_EQ(p->major_version, 2u);
    EXPECT_EQ(p->minor_version, 2u);
}

efi::ShellProtocol* located(sim::SimFirmware& fw) {
    void* p = nullptr;
    if (fw.system_table()->boot_services->locate_protocol(&efi::kShellProtocolGuid, nullptr, &p) != efi::kSuccess)
        return nullptr;
    return static_cast<efi::ShellProtocol*>(p);
}

TEST(ImagesShellProtocol, InstalledOnItsOwnHandleOrOverAnotherShell) {
    CommandShell sh;
    EXPECT_EQ(located(sh.fw), shell_protocol()) << "the platform module installs it at registration";
    install_shell_protocol();
    EXPECT_EQ(located(sh.fw), shell_protocol());
    EXPECT_TRUE(shell_protocol()->is_root_shell());
    EXPECT_NE(shell_protocol()->execution_break, nullptr);
    EXPECT_EQ(sh.fw.key_notify_count(), 3u);
    uninstall_shell_protocol();
    EXPECT_EQ(located(sh.fw), nullptr);
    EXPECT_EQ(sh.fw.key_notify_count(), 0u);

    // A parent shell's protocol is replaced, and back when this one leaves.
    efi::ShellProtocol parent = {};
    efi::Handle h = nullptr;
    auto* bs = sh.fw.system_table()->boot_services;
    ASSERT_EQ(bs->install_protocol_interface(&h, &efi::kShellProtocolGuid, efi::kNativeInterface, &parent),
              efi::kSuccess);
    install_shell_protocol();
    EXPECT_EQ(located(sh.fw), shell_protocol());
    EXPECT_FALSE(shell_protocol()->is_root_shell());
    EXPECT_EQ(sh.fw.handles().handles_with(efi::kShellProtocolGuid).size(), 1u);
    uninstall_shell_protocol();
    EXPECT_EQ(located(sh.fw), &parent);
}

struct ProtocolShell : CommandShell {
    ProtocolShell() {
        set_image_runner(run_image);
        install_shell_protocol();
    }
    efi::ShellProtocol* p = shell_protocol();
};

TEST(ImagesShellProtocol, Environment) {
    ProtocolShell sh;
    ASSERT_EQ(sh.run("set -v path fs0:\\a;fs0:\\b").code, 0);
    const char16_t* first = sh.p->get_env(u"path");
    EXPECT_EQ(narrow(first), "fs0:\\a;fs0:\\b");
    EXPECT_EQ(sh.p->get_env(u"PATH"), first) << "an unchanged value keeps its pointer";
    ASSERT_EQ(sh.run("set -v path fs0:\\c").code, 0);
    EXPECT_EQ(narrow(sh.p->get_env(u"path")), "fs0:\\c");
    EXPECT_EQ(sh.p->get_env(u"nosuchvariable"), nullptr);
    // The list of names: each NUL-terminated, an empty string last.
    const char16_t* list = sh.p->get_env(nullptr);
    std::vector<std::string> names;
    for (const char16_t* n = list; *n; n += std::char_traits<char16_t>::length(n) + 1) names.push_back(narrow(n));
    EXPECT_NE(std::find(names.begin(), names.end(), "path"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "lasterror"), names.end());

    struct Row {
        const char16_t* name;
        const char16_t* value;
        bool volatile_;
        efi::Status status;
        const char* after;
    } rows[] = {
        {u"lasterror", u"5", true, efi::kAccessDenied, "0x0"},
        {u"X", u"1", true, efi::kSuccess, "1"},
        {u"X", u"", true, efi::kSuccess, "(none)"},
        {u"Kept", u"yes", false, efi::kSuccess, "yes"},
        {nullptr, u"1", true, efi::kInvalidParameter, nullptr},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(sh.p->set_env(row.name, row.value, row.volatile_), row.status);
        if (row.after) {
            std::string name = narrow(row.name);
            EXPECT_EQ(sh.variable(name.c_str()), row.after) << name;
        }
    }
    uint32_t attributes = 0;
    EXPECT_EQ(narrow(sh.p->get_env_ex(u"Kept", &attributes)), "yes");
    EXPECT_EQ(attributes, efi::kVariableBootserviceAccess | efi::kVariableNonVolatile);
    ASSERT_EQ(sh.run("set -v Temp 1").code, 0);
    EXPECT_NE(sh.p->get_env_ex(u"Temp", &attributes), nullptr);
    EXPECT_EQ(attributes, efi::kVariableBootserviceAccess);
}

TEST(ImagesShellProtocol, ExecuteWithTemporaryEnvironment) {
    ProtocolShell sh;
    ASSERT_EQ(sh.run("set -v X old").code, 0);
    char16_t line[] = u"set X";
    char16_t entry[] = u"X=1";
    char16_t* environment[] = {entry, nullptr};
    efi::Status code = 99;
    std::string seen = captured([&] { EXPECT_EQ(sh.p->execute(nullptr, line, environment, &code), efi::kSuccess); });
    EXPECT_EQ(seen, "1\n");
    EXPECT_EQ(code, efi::kSuccess);
    EXPECT_EQ(sh.variable("X"), "old");
    struct Row {
        const char16_t* line;
        efi::Status status;
    } rows[] = {
        {u"tret 3", efi::kErrorBit | 3},
        {u"tret -1", efi::kErrorBit | 0xffffffffull},
        {u"nosuchcommand", efi::kErrorBit | 127},
        {u"tret 0", efi::kSuccess},
    };
    for (const Row& row : rows) {
        std::u16string l = row.line;
        EXPECT_EQ(sh.p->execute(nullptr, l.data(), nullptr, &code), efi::kSuccess);
        EXPECT_EQ(code, row.status) << narrow(row.line);
    }
    EXPECT_EQ(sh.p->execute(nullptr, nullptr, nullptr, &code), efi::kUnsupported);
}

TEST(ImagesShellProtocol, AliasesHelpAndDirectories) {
    ProtocolShell sh;
    EXPECT_EQ(sh.p->set_alias(u"echo hi", u"greet", 0, 1), efi::kSuccess);
    efi::Boolean is_volatile = 0;
    EXPECT_EQ(narrow(sh.p->get_alias(u"greet", &is_volatile)), "echo hi");
    EXPECT_EQ(is_volatile, 1);
    EXPECT_EQ(sh.p->set_alias(u"echo ho", u"greet", 0, 1), efi::kAccessDenied);
    EXPECT_EQ(sh.p->set_alias(u"echo ho", u"greet", 1, 0), efi::kSuccess);
    EXPECT_EQ(narrow(sh.p->get_alias(u"greet", &is_volatile)), "echo ho");
    EXPECT_EQ(is_volatile, 0);
    EXPECT_EQ(sh.p->set_alias(u"greet", nullptr, 0, 0), efi::kSuccess);
    EXPECT_EQ(sh.p->get_alias(u"greet", &is_volatile), nullptr);

    efi::Char16* help = nullptr;
    ASSERT_EQ(sh.p->get_help_text(u"targs", nullptr, &help), efi::kSuccess);
    EXPECT_EQ(narrow(help), "targs [ARG...]\n\nprint arguments\n");
    sh.fw.system_table()->boot_services->free_pool(help);
    EXPECT_EQ(sh.p->get_help_text(u"nosuch", nullptr, &help), efi::kNotFound);

    sh.add_directory("\\dir");
    EXPECT_EQ(narrow(sh.p->get_cur_dir(nullptr)), "fs0:\\");
    EXPECT_EQ(sh.p->set_cur_dir(u"fs0", u"\\dir"), efi::kSuccess);
    EXPECT_EQ(narrow(sh.p->get_cur_dir(nullptr)), "fs0:\\dir");
    EXPECT_EQ(narrow(sh.p->get_cur_dir(u"fs0:")), "fs0:\\dir");
    EXPECT_EQ(sh.p->set_cur_dir(nullptr, u"\\nothere"), efi::kNotFound);
    EXPECT_EQ(sh.p->set_cur_dir(nullptr, nullptr), efi::kInvalidParameter);
    EXPECT_FALSE(sh.p->batch_is_active());
    sh.p->enable_page_break();
    EXPECT_TRUE(sh.p->get_page_break());
    sh.p->disable_page_break();
    EXPECT_FALSE(sh.p->get_page_break());
}

TEST(ImagesShellProtocol, FilesByName) {
    ProtocolShell sh;
    efi::ShellFileHandle f = nullptr;
    ASSERT_EQ(sh.p->create_file(u"fs0:\\n.txt", 0, &f), efi::kSuccess);
    char16_t text[] = u"hello";
    uint64_t size = 10;
    EXPECT_EQ(sh.p->write_file(f, &size, text), efi::kSuccess);
    uint64_t position = 0;
    EXPECT_EQ(sh.p->get_file_position(f, &position), efi::kSuccess);
    EXPECT_EQ(position, 10u);
    EXPECT_EQ(sh.p->set_file_position(f, 2), efi::kSuccess);
    char16_t back[8] = {};
    size = 4;
    EXPECT_EQ(sh.p->read_file(f, &size, back), efi::kSuccess);
    EXPECT_EQ(narrow(back), "el");
    EXPECT_EQ(sh.p->flush_file(f), efi::kSuccess);
    EXPECT_EQ(sh.p->get_file_size(f, &size), efi::kSuccess);
    EXPECT_EQ(size, 10u);
    efi::FileInfo* info = sh.p->get_file_info(f);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->file_size, 10u);
    sh.fw.system_table()->boot_services->free_pool(info);
    EXPECT_EQ(sh.p->close_file(f), efi::kSuccess);
    EXPECT_EQ(sh.file_content("\\n.txt"), std::string("h\0e\0l\0l\0o\0", 10));
    EXPECT_EQ(sh.p->delete_file_by_name(u"fs0:\\n.txt"), efi::kSuccess);
    EXPECT_FALSE(sh.exists("\\n.txt"));
    EXPECT_EQ(sh.p->open_file_by_name(u"fs0:\\n.txt", &f, efi::kFileModeRead), efi::kNotFound);
    // NUL in any case.
    ASSERT_EQ(sh.p->open_file_by_name(u"nul", &f, efi::kFileModeRead | efi::kFileModeWrite), efi::kSuccess);
    size = 10;
    EXPECT_EQ(sh.p->write_file(f, &size, text), efi::kSuccess);
    EXPECT_EQ(sh.p->close_file(f), efi::kSuccess);
    EXPECT_EQ(sim::open_file_count(sh.fw), 0);

    // A handle that is not the shell's is refused by every file slot.
    // (Followed by other bytes than the shell's signature: a firmware handle, say.)
    ShellFile foreign = {};
    void* bogus = &foreign;
    uint64_t n = 2;
    efi::Status results[] = {
        sh.p->close_file(bogus), sh.p->read_file(bogus, &n, back), sh.p->write_file(bogus, &n, text),
        sh.p->delete_file(bogus), sh.p->get_file_position(bogus, &position), sh.p->set_file_position(bogus, 0),
        sh.p->flush_file(bogus), sh.p->get_file_size(bogus, &n), sh.p->close_file(nullptr),
    };
    for (efi::Status s : results) EXPECT_EQ(s, efi::kInvalidParameter);
    EXPECT_EQ(sh.p->get_file_info(bogus), nullptr);
}

TEST(ImagesShellProtocol, GuidNamesAndBreak) {
    ProtocolShell sh;
    const efi::Char16* name = nullptr;
    ASSERT_EQ(sh.p->get_guid_name(&efi::kShellProtocolGuid, &name), efi::kSuccess);
    EXPECT_EQ(narrow(name), "Shell");
    // Names and GUID texts both lead back to the GUID.
    for (const char16_t* text : {u"shell", u"6302D008-7F9B-4F30-87AC-60C9FEF5DA4E"}) {
        efi::Guid guid = {};
        EXPECT_EQ(sh.p->get_guid_from_name(text, &guid), efi::kSuccess);
        EXPECT_EQ(std::memcmp(&guid, &efi::kShellProtocolGuid, sizeof guid), 0);
    }
    efi::Guid guid = {};
    EXPECT_EQ(sh.p->get_guid_from_name(u"not a guid", &guid), efi::kNotFound);
    EXPECT_EQ(sh.p->get_guid_name(nullptr, &name), efi::kInvalidParameter);
    // A GUID without a name is not found until an application registers one.
    const efi::Guid mine = {0x0badcafe, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(sh.p->get_guid_name(&mine, &name), efi::kNotFound);
    ASSERT_EQ(sh.p->register_guid_name(&mine, u"ProbeThing"), efi::kSuccess);
    ASSERT_EQ(sh.p->get_guid_name(&mine, &name), efi::kSuccess);
    EXPECT_EQ(narrow(name), "ProbeThing");
    EXPECT_EQ(sh.p->get_guid_from_name(u"probething", &guid), efi::kSuccess);
    EXPECT_EQ(std::memcmp(&guid, &mine, sizeof guid), 0);
    EXPECT_EQ(sh.p->register_guid_name(&mine, u""), efi::kAccessDenied);
    // Device names: the path text when asked for, nothing from flags that ask for neither.
    efi::Char16* device = nullptr;
    EXPECT_EQ(sh.p->get_device_name(nullptr, 3, nullptr, &device), efi::kInvalidParameter);
    EXPECT_EQ(sh.p->get_device_name(sh.fw.image_handle(), 0, nullptr, &device), efi::kInvalidParameter);
    // A signalled ExecutionBreak is the shell's Ctrl-C.
    clear_break();
    sh.fw.system_table()->boot_services->signal_event(sh.p->execution_break);
    EXPECT_TRUE(poll_break());
    clear_break();
}

}  // namespace

namespace {

TEST(ImagesShellProtocol, MapsAndDevicePaths) {
    ShellSetup setup;
    setup.volumes = 2;
    CommandShell sh(setup);
    install_shell_protocol();
    efi::ShellProtocol* p = shell_protocol();
    auto* bs = sh.fw.system_table()->boot_services;
    ASSERT_EQ(set_extra_name("usb", "fs1"), kOk);
    sh.add_directory("\\dir");
    sh.add_file("\\dir\\f.txt", "x");
    struct Row {
        const char16_t* path;
        const char* map;
        const char* back;
    } rows[] = {
        {u"fs0:\\dir\\f.txt", "fs0:", "fs0:\\dir\\f.txt"},
        {u"fs1:\\", "fs1:;usb:", "fs1:\\"},
        {u"usb:\\a\\b", "fs1:;usb:", "fs1:\\a\\b"},
    };
    for (const Row& row : rows) {
        efi::DevicePath* dp = p->get_device_path_from_file_path(row.path);
        ASSERT_NE(dp, nullptr) << narrow(row.path);
        efi::Char16* back = p->get_file_path_from_device_path(dp);
        EXPECT_EQ(narrow(back), row.back);
        bs->free_pool(back);
        efi::DevicePath* cursor = dp;
        EXPECT_EQ(narrow(p->get_map_from_device_path(&cursor)), row.map);
        EXPECT_EQ(cursor->type, efi::kMediaDevicePath);  // past the volume, at the file node
        EXPECT_EQ(cursor->sub_type, efi::kMediaFilePathSubType);
        efi::ShellFileHandle root = nullptr;
        EXPECT_EQ(p->open_root(dp, &root), efi::kSuccess);
        EXPECT_EQ(p->close_file(root), efi::kSuccess);
        bs->free_pool(dp);
    }
    const efi::DevicePath* fs0 = p->get_device_path_from_map(u"fs0:");
    ASSERT_NE(fs0, nullptr);
    efi::DevicePath* cursor = const_cast<efi::DevicePath*>(fs0);
    EXPECT_EQ(narrow(p->get_map_from_device_path(&cursor)), "fs0:");
    EXPECT_EQ(cursor->type, efi::kEndDevicePath);
    EXPECT_EQ(p->get_device_path_from_map(u"USB"), p->get_device_path_from_map(u"fs1"));
    EXPECT_EQ(p->get_device_path_from_map(u"fs9:"), nullptr);
    // Map names given and taken through the protocol.
    EXPECT_EQ(p->set_map(fs0, u"stick:"), efi::kSuccess);
    EXPECT_EQ(p->get_device_path_from_map(u"stick"), fs0);
    EXPECT_EQ(p->set_map(fs0, u"fs1"), efi::kAccessDenied);  // a volume's own name
    EXPECT_EQ(p->set_map(nullptr, u"stick:"), efi::kSuccess);
    EXPECT_EQ(p->get_device_path_from_map(u"stick"), nullptr);
    uint8_t end_only[] = {0x7f, 0xff, 4, 0};
    EXPECT_EQ(p->set_map(reinterpret_cast<efi::DevicePath*>(end_only), u"x"), efi::kUnsupported);
    // A node shorter than its header is no path at all.
    uint8_t broken[] = {4, 4, 2, 0, 0x7f, 0xff, 4, 0};
    EXPECT_EQ(p->get_file_path_from_device_path(reinterpret_cast<efi::DevicePath*>(broken)), nullptr);
    efi::DevicePath* broken_cursor = reinterpret_cast<efi::DevicePath*>(broken);
    EXPECT_EQ(p->get_map_from_device_path(&broken_cursor), nullptr);
    // The root of a volume by its handle, with the volume's name as its path.
    efi::ShellFileHandle root = nullptr;
    ASSERT_EQ(p->open_root_by_handle(volume_handle(1), &root), efi::kSuccess);
    EXPECT_STREQ(shell_file_of(root)->path, "fs1:\\");
    efi::ShellFileHandle dir = nullptr;
    EXPECT_EQ(p->close_file(root), efi::kSuccess);
    EXPECT_EQ(p->open_root_by_handle(nullptr, &dir), efi::kInvalidParameter);
    EXPECT_EQ(sim::open_file_count(sh.fw), 0);
}

}  // namespace

namespace {

std::vector<std::string> names_in(efi::ShellFileInfo* list, bool full) {
    std::vector<std::string> out;
    if (!list) return out;
    for (efi::ListEntry* e = list->link.forward; e != &list->link; e = e->forward) {
        auto* entry = reinterpret_cast<efi::ShellFileInfo*>(e);
        out.push_back(narrow(full ? entry->full_name : entry->file_name));
    }
    return out;
}

TEST(ImagesShellProtocol, FileLists) {
    CommandShell sh;
    install_shell_protocol();
    efi::ShellProtocol* p = shell_protocol();
    const int64_t blocks = sh.fw.outstanding_allocations();
    sh.add_directory("\\d");
    sh.add_file("\\d\\a.txt", "1");
    sh.add_file("\\d\\B.txt", "22");
    sh.add_file("\\d\\c.log", "333");
    efi::ShellFileInfo* list = nullptr;
    char16_t pattern[] = u"fs0:\\d\\*.txt";
    ASSERT_EQ(p->open_file_list(pattern, efi::kFileModeRead, &list), efi::kSuccess);
    EXPECT_EQ(names_in(list, true), (std::vector<std::string>{"fs0:\\d\\a.txt", "fs0:\\d\\B.txt"}));
    EXPECT_EQ(names_in(list, false), (std::vector<std::string>{"a.txt", "B.txt"}));
    // Appending the same matches again, then removing the duplicates.
    char16_t upper[] = u"FS0:\\D\\*.TXT";
    ASSERT_EQ(p->open_file_list(upper, efi::kFileModeRead, &list), efi::kSuccess);
    EXPECT_EQ(names_in(list, true).size(), 4u);
    EXPECT_EQ(p->remove_dup_in_file_list(&list), efi::kSuccess);
    EXPECT_EQ(names_in(list, false), (std::vector<std::string>{"a.txt", "B.txt"}));
    auto* second = reinterpret_cast<efi::ShellFileInfo*>(list->link.forward->forward);
    ASSERT_NE(second->info, nullptr);
    EXPECT_EQ(second->info->file_size, 2u);
    uint64_t size = 0;
    EXPECT_EQ(p->get_file_size(second->handle, &size), efi::kSuccess);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(p->free_file_list(&list), efi::kSuccess);
    EXPECT_EQ(list, nullptr);
    char16_t none[] = u"fs0:\\d\\*.none";
    EXPECT_EQ(p->open_file_list(none, efi::kFileModeRead, &list), efi::kNotFound);
    EXPECT_EQ(p->find_files(u"fs0:\\d\\*.log", &list), efi::kSuccess);
    EXPECT_EQ(names_in(list, false), std::vector<std::string>{"c.log"});
    EXPECT_EQ(p->free_file_list(&list), efi::kSuccess);

    // Every entry of a directory, with full names from the directory's path.
    efi::ShellFileHandle dir = nullptr;
    ASSERT_EQ(p->open_file_by_name(u"fs0:\\d", &dir, efi::kFileModeRead), efi::kSuccess);
    ASSERT_EQ(p->find_files_in_dir(dir, &list), efi::kSuccess);
    std::vector<std::string> found = names_in(list, true);
    for (const char* want : {"fs0:\\d\\a.txt", "fs0:\\d\\B.txt", "fs0:\\d\\c.log"})
        EXPECT_NE(std::find(found.begin(), found.end(), want), found.end()) << want;
    EXPECT_EQ(p->free_file_list(&list), efi::kSuccess);
    EXPECT_EQ(p->close_file(dir), efi::kSuccess);
    EXPECT_EQ(p->free_file_list(nullptr), efi::kInvalidParameter);
    EXPECT_EQ(p->find_files_in_dir(nullptr, &list), efi::kInvalidParameter);
    EXPECT_EQ(sim::open_file_count(sh.fw), 0);
    uninstall_shell_protocol();
    EXPECT_EQ(sh.fw.outstanding_allocations(), blocks) << "lists give back every pool block";
}

}  // namespace

namespace {

// OVMF's serial console calls the Ctrl+'c' notification for a plain 'c': typing a word
// with a c in it must not break the next command, while the character 3 still does.
TEST(ImagesShellProtocol, OnlyControlCBreaks) {
    ProtocolShell sh;
    sh.fw.set_key_notify_ignores_shift(true);
    const struct { char16_t ch; uint32_t shift; int code; } keys[] = {
        {u'c', efi::kShiftStateValid, 0},
        {u'C', efi::kShiftStateValid, 0},
        {u'c', efi::kShiftStateValid | efi::kLeftControlPressed, 130},
        {3, efi::kShiftStateValid, 130},
    };
    for (const auto& k : keys) {
        clear_break();
        sh.fw.push_key(k.ch, 0, k.shift);
        EXPECT_EQ(sh.run("stall 100000").code, k.code) << int(k.ch) << " shift " << std::hex << k.shift;
    }
    clear_break();
}

}  // namespace
