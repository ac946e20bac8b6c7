// The simulated firmware's handle database and images.
#include <gtest/gtest.h>

#include <cstring>

#include "handles.h"
#include "sim.h"
#include "uefi/guids.h"

using namespace tarn;

namespace {

efi::BootServices* bs(sim::SimFirmware& fw) { return fw.system_table()->boot_services; }

constexpr efi::Guid kGuidA = {0xaaaa0001, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr efi::Guid kGuidB = {0xbbbb0002, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(SimHandles, InstallLocateUninstall) {
    sim::SimFirmware fw;
    int ia = 1, ib = 2;
    efi::Handle h = nullptr;
    ASSERT_EQ(bs(fw)->install_protocol_interface(&h, &kGuidA, efi::kNativeInterface, &ia), efi::kSuccess);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(bs(fw)->install_protocol_interface(&h, &kGuidA, efi::kNativeInterface, &ia),
              efi::kInvalidParameter);
    ASSERT_EQ(bs(fw)->install_protocol_interface(&h, &kGuidB, efi::kNativeInterface, &ib), efi::kSuccess);

    void* found = nullptr;
    ASSERT_EQ(bs(fw)->locate_protocol(&kGuidB, nullptr, &found), efi::kSuccess);
    EXPECT_EQ(found, &ib);
    ASSERT_EQ(bs(fw)->handle_protocol(h, &kGuidA, &found), efi::kSuccess);
    EXPECT_EQ(found, &ia);

    uint64_t size = 0;
    EXPECT_EQ(bs(fw)->locate_handle(efi::kByProtocol, &kGuidA, nullptr, &size, nullptr),
              efi::kBufferTooSmall);
    EXPECT_EQ(size, sizeof(efi::Handle));
    efi::Handle got = nullptr;
    ASSERT_EQ(bs(fw)->locate_handle(efi::kByProtocol, &kGuidA, nullptr, &size, &got), efi::kSuccess);
    EXPECT_EQ(got, h);

    efi::Guid** guids = nullptr;
    uint64_t count = 0;
    ASSERT_EQ(bs(fw)->protocols_per_handle(h, &guids, &count), efi::kSuccess);
    ASSERT_EQ(count, 2u);
    EXPECT_TRUE(*guids[0] == kGuidA);
    EXPECT_TRUE(*guids[1] == kGuidB);
    bs(fw)->free_pool(guids);

    EXPECT_EQ(bs(fw)->uninstall_protocol_interface(h, &kGuidA, &ib), efi::kNotFound);  // wrong interface
    ASSERT_EQ(bs(fw)->uninstall_protocol_interface(h, &kGuidA, &ia), efi::kSuccess);
    EXPECT_TRUE(fw.handles().is_valid(h));
    ASSERT_EQ(bs(fw)->uninstall_protocol_interface(h, &kGuidB, &ib), efi::kSuccess);
    // The handle went away with its last protocol.
    EXPECT_FALSE(fw.handles().is_valid(h));
    EXPECT_EQ(bs(fw)->handle_protocol(h, &kGuidA, &found), efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->locate_protocol(&kGuidA, nullptr, &found), efi::kNotFound);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimHandles, LocateHandleBufferInCreationOrder) {
    sim::SimFirmware fw;
    int x[3];
    efi::Handle hs[3] = {};
    for (int i = 0; i < 3; i++) hs[i] = fw.handles().install_new(kGuidA, &x[i]);
    uint64_t n = 0;
    efi::Handle* buf = nullptr;
    ASSERT_EQ(bs(fw)->locate_handle_buffer(efi::kByProtocol, &kGuidA, nullptr, &n, &buf), efi::kSuccess);
    ASSERT_EQ(n, 3u);
    for (int i = 0; i < 3; i++) EXPECT_EQ(buf[i], hs[i]);
    bs(fw)->free_pool(buf);
    EXPECT_EQ(bs(fw)->locate_handle_buffer(efi::kByProtocol, &kGuidB, nullptr, &n, &buf), efi::kNotFound);
    ASSERT_EQ(bs(fw)->locate_handle_buffer(efi::kAllHandles, nullptr, nullptr, &n, &buf), efi::kSuccess);
    EXPECT_GE(n, 6u);  // image, console in, console out and ours
    bs(fw)->free_pool(buf);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimHandles, OpenProtocolInformationRecordsOpeners) {
    sim::SimFirmware fw;
    int iface = 0;
    efi::Handle h = fw.handles().install_new(kGuidA, &iface);
    efi::Handle agent = fw.image_handle();
    efi::Handle driver = fw.handles().create_handle();
    void* p = nullptr;
    ASSERT_EQ(bs(fw)->open_protocol(h, &kGuidA, &p, agent, nullptr, efi::kOpenProtocolGetProtocol),
              efi::kSuccess);
    ASSERT_EQ(bs(fw)->open_protocol(h, &kGuidA, &p, agent, nullptr, efi::kOpenProtocolGetProtocol),
              efi::kSuccess);
    EXPECT_EQ(bs(fw)->open_protocol(h, &kGuidA, nullptr, agent, nullptr, efi::kOpenProtocolTestProtocol),
              efi::kSuccess);
    EXPECT_EQ(bs(fw)->open_protocol(h, &kGuidB, nullptr, agent, nullptr, efi::kOpenProtocolTestProtocol),
              efi::kUnsupported);
    ASSERT_EQ(bs(fw)->open_protocol(h, &kGuidA, &p, driver, h, efi::kOpenProtocolByDriver), efi::kSuccess);

    efi::OpenProtocolInformationEntry* info = nullptr;
    uint64_t count = 0;
    ASSERT_EQ(bs(fw)->open_protocol_information(h, &kGuidA, &info, &count), efi::kSuccess);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(info[0].agent_handle, agent);
    EXPECT_EQ(info[0].attributes, efi::kOpenProtocolGetProtocol);
    EXPECT_EQ(info[0].open_count, 2u);
    EXPECT_EQ(info[1].agent_handle, driver);
    EXPECT_EQ(info[1].controller_handle, h);
    EXPECT_EQ(info[1].attributes, efi::kOpenProtocolByDriver);
    bs(fw)->free_pool(info);

    // A second driver is refused, the same one is told it already runs.
    efi::Handle other = fw.handles().create_handle();
    EXPECT_EQ(bs(fw)->open_protocol(h, &kGuidA, &p, other, h, efi::kOpenProtocolByDriver),
              efi::kAccessDenied);
    EXPECT_EQ(bs(fw)->open_protocol(h, &kGuidA, &p, driver, h, efi::kOpenProtocolByDriver),
              efi::kAlreadyStarted);
    // Nobody may remove a protocol a driver holds.
    EXPECT_EQ(bs(fw)->uninstall_protocol_interface(h, &kGuidA, &iface), efi::kAccessDenied);
    ASSERT_EQ(bs(fw)->close_protocol(h, &kGuidA, driver, h), efi::kSuccess);
    EXPECT_EQ(bs(fw)->close_protocol(h, &kGuidA, driver, h), efi::kNotFound);
    ASSERT_EQ(bs(fw)->open_protocol_information(h, &kGuidA, &info, &count), efi::kSuccess);
    EXPECT_EQ(count, 1u);
    bs(fw)->free_pool(info);
    EXPECT_EQ(bs(fw)->uninstall_protocol_interface(h, &kGuidA, &iface), efi::kSuccess);
    EXPECT_EQ(bs(fw)->open_protocol_information(h, &kGuidA, &info, &count), efi::kNotFound);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimHandles, OpenProtocolChecksItsArguments) {
    sim::SimFirmware fw;
    int iface = 0;
    efi::Handle h = fw.handles().install_new(kGuidA, &iface);
    void* p = nullptr;
    EXPECT_EQ(bs(fw)->open_protocol(h, &kGuidA, nullptr, fw.image_handle(), nullptr,
                                    efi::kOpenProtocolGetProtocol),
              efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->open_protocol(h, &kGuidA, &p, nullptr, h, efi::kOpenProtocolByDriver),
              efi::kInvalidParameter);
    EXPECT_EQ(bs(fw)->open_protocol(h, &kGuidA, &p, fw.image_handle(), nullptr, 0x3),
              efi::kInvalidParameter);
    int stray = 0;
    EXPECT_EQ(bs(fw)->open_protocol(&stray, &kGuidA, &p, fw.image_handle(), nullptr,
                                    efi::kOpenProtocolGetProtocol),
              efi::kInvalidParameter);
}

// A device path of one vendor-style hardware node with a tag byte, then optional file path.
std::vector<uint8_t> make_path(uint8_t tag, const std::u16string& file = u"", uint8_t tag2 = 0) {
    std::vector<uint8_t> v = {efi::kHardwareDevicePath, 0x04, 5, 0, tag};
    if (tag2) v.insert(v.end(), {efi::kHardwareDevicePath, 0x04, 5, 0, tag2});
    if (!file.empty()) {
        uint16_t len = static_cast<uint16_t>(4 + (file.size() + 1) * 2);
        v.insert(v.end(), {efi::kMediaDevicePath, efi::kMediaFilePathSubType,
                           static_cast<uint8_t>(len & 0xff), static_cast<uint8_t>(len >> 8)});
        for (char16_t c : file) {
            v.push_back(static_cast<uint8_t>(c & 0xff));
            v.push_back(static_cast<uint8_t>(c >> 8));
        }
        v.push_back(0);
        v.push_back(0);
    }
    v.insert(v.end(), {efi::kEndDevicePath, efi::kEndEntireSubType, 4, 0});
    return v;
}

TEST(SimHandles, LocateDevicePathTakesTheLongestPrefix) {
    sim::SimFirmware fw;
    auto short_path = make_path(1);
    auto long_path = make_path(1, u"", 2);
    auto unrelated = make_path(9);
    int blk1 = 0, blk2 = 0, blk3 = 0;
    efi::Handle h1 = nullptr, h2 = nullptr, h3 = nullptr;
    fw.handles().install(&h1, efi::kDevicePathProtocolGuid, short_path.data());
    fw.handles().install(&h1, kGuidA, &blk1);
    fw.handles().install(&h2, efi::kDevicePathProtocolGuid, long_path.data());
    fw.handles().install(&h2, kGuidA, &blk2);
    fw.handles().install(&h3, efi::kDevicePathProtocolGuid, unrelated.data());
    fw.handles().install(&h3, kGuidA, &blk3);

    auto query = make_path(1, u"\\EFI\\x.efi", 2);
    auto* dp = reinterpret_cast<efi::DevicePath*>(query.data());
    efi::Handle dev = nullptr;
    ASSERT_EQ(bs(fw)->locate_device_path(&kGuidA, &dp, &dev), efi::kSuccess);
    EXPECT_EQ(dev, h2);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(dp) - query.data(), 10);
    EXPECT_EQ(dp->type, efi::kMediaDevicePath);

    auto only_first = make_path(1, u"\\y");
    dp = reinterpret_cast<efi::DevicePath*>(only_first.data());
    ASSERT_EQ(bs(fw)->locate_device_path(&kGuidA, &dp, &dev), efi::kSuccess);
    EXPECT_EQ(dev, h1);

    auto none = make_path(7);
    dp = reinterpret_cast<efi::DevicePath*>(none.data());
    EXPECT_EQ(bs(fw)->locate_device_path(&kGuidA, &dp, &dev), efi::kNotFound);
    EXPECT_EQ(bs(fw)->locate_device_path(&kGuidB, &dp, &dev), efi::kNotFound);

    // A malformed path (a node shorter than its header) is refused, not walked forever.
    std::vector<uint8_t> bad = {1, 4, 2, 0, 0x7f, 0xff, 4, 0};
    dp = reinterpret_cast<efi::DevicePath*>(bad.data());
    EXPECT_EQ(bs(fw)->locate_device_path(&kGuidA, &dp, &dev), efi::kInvalidParameter);
}

int g_notify_hits = 0;
void EFIAPI notify_hit(efi::Event, void*) { g_notify_hits++; }

TEST(SimHandles, ProtocolNotifyQueuesNewHandles) {
    sim::SimFirmware fw;
    g_notify_hits = 0;
    efi::Event ev = nullptr;
    ASSERT_EQ(bs(fw)->create_event(efi::kEvtNotifySignal, efi::kTplCallback, notify_hit, nullptr, &ev),
              efi::kSuccess);
    void* reg = nullptr;
    ASSERT_EQ(bs(fw)->register_protocol_notify(&kGuidB, ev, &reg), efi::kSuccess);
    int iface = 0;
    efi::Handle h = fw.handles().install_new(kGuidB, &iface);
    EXPECT_EQ(g_notify_hits, 1);
    uint64_t size = sizeof(efi::Handle);
    efi::Handle got = nullptr;
    ASSERT_EQ(bs(fw)->locate_handle(efi::kByRegisterNotify, nullptr, reg, &size, &got), efi::kSuccess);
    EXPECT_EQ(got, h);
    EXPECT_EQ(bs(fw)->locate_handle(efi::kByRegisterNotify, nullptr, reg, &size, &got), efi::kNotFound);
    bs(fw)->close_event(ev);
}

// ---------------------------------------------------------------- images

constexpr efi::Status kWarning = 4;  // a warning status passes through unchanged
const std::vector<uint8_t> kImageBytes = {'M', 'Z', 1, 2, 3};

TEST(SimImages, StartImageRunsTheHostFunctionWithItsOwnHandle) {
    sim::SimFirmware fw;
    efi::Handle seen = nullptr;
    efi::Handle parent_seen = nullptr;
    fw.register_image_buffer(kImageBytes, [&](efi::Handle image, efi::SystemTable* st) {
        seen = image;
        efi::LoadedImage* li = nullptr;
        st->boot_services->handle_protocol(image, &efi::kLoadedImageProtocolGuid,
                                           reinterpret_cast<void**>(&li));
        parent_seen = li->parent_handle;
        EXPECT_EQ(li->image_size, kImageBytes.size());
        return kWarning;
    });
    std::vector<uint8_t> copy = kImageBytes;
    efi::Handle img = nullptr;
    ASSERT_EQ(bs(fw)->load_image(0, fw.image_handle(), nullptr, copy.data(), copy.size(), &img),
              efi::kSuccess);
    EXPECT_EQ(bs(fw)->start_image(img, nullptr, nullptr), kWarning);
    EXPECT_EQ(seen, img);
    EXPECT_EQ(parent_seen, fw.image_handle());
    EXPECT_EQ(fw.images_started(), 1u);
    // An application is unloaded when it returns.
    EXPECT_FALSE(fw.handles().is_valid(img));
    EXPECT_EQ(bs(fw)->start_image(img, nullptr, nullptr), efi::kInvalidParameter);
}

TEST(SimImages, ExitFromANestedImageReturnsToItsStartImage) {
    sim::SimFirmware fw;
    std::vector<uint8_t> child_bytes = {'C'};
    std::vector<uint8_t> parent_bytes = {'P'};
    bool child_after_exit = false;
    efi::Status child_status = 0;
    uint64_t child_data_size = 0;
    std::u16string child_data;
    bool parent_continued = false;
    fw.register_image_buffer(child_bytes, [&](efi::Handle image, efi::SystemTable* st) {
        void* data = nullptr;
        st->boot_services->allocate_pool(efi::kLoaderData, 6, &data);
        std::memcpy(data, u"no", 6);
        st->boot_services->exit(image, efi::kAborted, 6, static_cast<char16_t*>(data));
        child_after_exit = true;
        return efi::kSuccess;
    });
    fw.register_image_buffer(parent_bytes, [&](efi::Handle image, efi::SystemTable* st) {
        auto* b = st->boot_services;
        efi::Handle child = nullptr;
        EXPECT_EQ(b->load_image(0, image, nullptr, child_bytes.data(), 1, &child), efi::kSuccess);
        uint64_t size = 0;
        efi::Char16* data = nullptr;
        child_status = b->start_image(child, &size, &data);
        child_data_size = size;
        if (data) {
            child_data = data;
            b->free_pool(data);
        }
        // Exit with the grandparent's handle is not ours to call.
        EXPECT_EQ(b->exit(fw.image_handle(), 0, 0, nullptr), efi::kInvalidParameter);
        parent_continued = true;
        b->exit(image, efi::make_error(7), 0, nullptr);
        return efi::kSuccess;
    });
    efi::Status top = 0;
    auto r = fw.run([&] {
        efi::Handle p = nullptr;
        ASSERT_EQ(bs(fw)->load_image(0, fw.image_handle(), nullptr, parent_bytes.data(), 1, &p),
                  efi::kSuccess);
        top = bs(fw)->start_image(p, nullptr, nullptr);
    });
    EXPECT_FALSE(r.exited);
    EXPECT_FALSE(child_after_exit);
    EXPECT_EQ(child_status, efi::kAborted);
    EXPECT_EQ(child_data_size, 6u);
    EXPECT_EQ(child_data, u"no");
    EXPECT_TRUE(parent_continued);
    EXPECT_EQ(top, efi::make_error(7));
    EXPECT_EQ(fw.images_started(), 2u);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimImages, ExitDataIsFreedWhenTheCallerDoesNotWantIt) {
    sim::SimFirmware fw;
    fw.register_image_buffer(kImageBytes, [&](efi::Handle image, efi::SystemTable* st) {
        void* data = nullptr;
        st->boot_services->allocate_pool(efi::kLoaderData, 2, &data);
        static_cast<char16_t*>(data)[0] = 0;
        st->boot_services->exit(image, efi::kSuccess, 2, static_cast<char16_t*>(data));
        return efi::kSuccess;
    });
    std::vector<uint8_t> copy = kImageBytes;
    efi::Handle img = nullptr;
    ASSERT_EQ(bs(fw)->load_image(0, fw.image_handle(), nullptr, copy.data(), copy.size(), &img),
              efi::kSuccess);
    EXPECT_EQ(bs(fw)->start_image(img, nullptr, nullptr), efi::kSuccess);
    EXPECT_EQ(fw.outstanding_allocations(), 0);
}

TEST(SimImages, ResetInsideAnImageEndsTheWholeRun) {
    sim::SimFirmware fw;
    fw.register_image_buffer(kImageBytes, [&](efi::Handle, efi::SystemTable* st) {
        st->runtime_services->reset_system(efi::kResetCold, efi::kSuccess, 0, nullptr);
        return efi::kSuccess;
    });
    efi::Handle img = nullptr;
    bool after = false;
    std::vector<uint8_t> copy = kImageBytes;  // outside: the reset skips the run's frames
    auto r = fw.run([&] {
        bs(fw)->load_image(0, fw.image_handle(), nullptr, copy.data(), copy.size(), &img);
        bs(fw)->start_image(img, nullptr, nullptr);
        after = true;
    });
    EXPECT_TRUE(r.reset);
    EXPECT_EQ(r.reset_type, efi::kResetCold);
    EXPECT_FALSE(after);
    EXPECT_FALSE(fw.handles().is_valid(img));  // the image is gone with the run
    // Exit of the program works again afterwards.
    auto r2 = fw.run([&] { bs(fw)->exit(fw.image_handle(), efi::kSuccess, 0, nullptr); });
    EXPECT_TRUE(r2.exited);
}

TEST(SimImages, UnknownAndRefusedImages) {
    sim::SimFirmware fw;
    std::vector<uint8_t> unknown = {'?'};
    efi::Handle img = nullptr;
    EXPECT_EQ(bs(fw)->load_image(0, fw.image_handle(), nullptr, unknown.data(), 1, &img),
              efi::kLoadError);
    EXPECT_EQ(bs(fw)->load_image(0, fw.image_handle(), nullptr, nullptr, 0, &img), efi::kNotFound);
    int not_image = 0;
    EXPECT_EQ(bs(fw)->load_image(0, &not_image, nullptr, unknown.data(), 1, &img),
              efi::kInvalidParameter);

    std::vector<uint8_t> unsigned_bytes = {'U'};
    bool ran = false;
    sim::ImageOptions refused;
    refused.load_status = efi::kSecurityViolation;
    fw.register_image_buffer(unsigned_bytes, [&](efi::Handle, efi::SystemTable*) {
        ran = true;
        return efi::kSuccess;
    }, refused);
    ASSERT_EQ(bs(fw)->load_image(0, fw.image_handle(), nullptr, unsigned_bytes.data(), 1, &img),
              efi::kSecurityViolation);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(bs(fw)->start_image(img, nullptr, nullptr), efi::kSecurityViolation);
    EXPECT_FALSE(ran);
    EXPECT_EQ(bs(fw)->unload_image(img), efi::kSuccess);
    EXPECT_FALSE(fw.handles().is_valid(img));
}

TEST(SimImages, LoadByFilePathRegistration) {
    sim::SimFirmware fw;
    auto dev_path = make_path(3);
    int fs_dummy = 0;
    efi::Handle dev = nullptr;
    fw.handles().install(&dev, efi::kDevicePathProtocolGuid, dev_path.data());
    fw.handles().install(&dev, kGuidA, &fs_dummy);
    efi::DevicePath* seen_file = nullptr;
    efi::Handle seen_device = nullptr;
    fw.register_image_path("\\EFI\\Tools\\Hello.efi", [&](efi::Handle image, efi::SystemTable* st) {
        efi::LoadedImage* li = nullptr;
        st->boot_services->handle_protocol(image, &efi::kLoadedImageProtocolGuid,
                                           reinterpret_cast<void**>(&li));
        seen_device = li->device_handle;
        seen_file = li->file_path;
        EXPECT_EQ(seen_file->type, efi::kMediaDevicePath);
        return efi::kSuccess;
    });
    auto full = make_path(3, u"\\efi\\tools\\HELLO.EFI");
    efi::Handle img = nullptr;
    ASSERT_EQ(bs(fw)->load_image(0, fw.image_handle(), reinterpret_cast<efi::DevicePath*>(full.data()),
                                 nullptr, 0, &img),
              efi::kSuccess);
    void* lidp = nullptr;
    EXPECT_EQ(bs(fw)->handle_protocol(img, &efi::kLoadedImageDevicePathProtocolGuid, &lidp), efi::kSuccess);
    EXPECT_EQ(bs(fw)->start_image(img, nullptr, nullptr), efi::kSuccess);
    EXPECT_EQ(seen_device, dev);
    auto missing = make_path(3, u"\\nothere.efi");
    EXPECT_EQ(bs(fw)->load_image(0, fw.image_handle(), reinterpret_cast<efi::DevicePath*>(missing.data()),
                                 nullptr, 0, &img),
              efi::kNotFound);
}

TEST(SimImages, ProtocolsLeftOnAnImageHandleKeepItAlive) {
    // A shell installs its parameters protocol on the child's handle and removes it after
    // StartImage; the handle must still be there for that.
    sim::SimFirmware fw;
    fw.register_image_buffer(kImageBytes, [](efi::Handle, efi::SystemTable*) { return efi::kSuccess; });
    std::vector<uint8_t> copy = kImageBytes;
    efi::Handle img = nullptr;
    ASSERT_EQ(bs(fw)->load_image(0, fw.image_handle(), nullptr, copy.data(), copy.size(), &img),
              efi::kSuccess);
    int params = 0;
    ASSERT_EQ(bs(fw)->install_protocol_interface(&img, &efi::kShellParametersProtocolGuid,
                                                 efi::kNativeInterface, &params),
              efi::kSuccess);
    EXPECT_EQ(bs(fw)->start_image(img, nullptr, nullptr), efi::kSuccess);
    void* p = nullptr;
    EXPECT_EQ(bs(fw)->handle_protocol(img, &efi::kLoadedImageProtocolGuid, &p), efi::kUnsupported);
    EXPECT_EQ(bs(fw)->uninstall_protocol_interface(img, &efi::kShellParametersProtocolGuid, &params),
              efi::kSuccess);
    EXPECT_FALSE(fw.handles().is_valid(img));
}

}  // namespace
