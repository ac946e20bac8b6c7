// connect, disconnect, reconnect, load, unload, drvcfg and drvdiag over simulated drivers.
#include "driver_shell.h"

using namespace tarn;
using namespace tarn_test;

namespace {

std::vector<uint8_t> as_bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(DriversControl, ConnectAndDisconnectCallsAndResultLines) {
    DriverShell s;
    sim::DriverLayout layout;
    layout.make_child = true;
    auto& d = s.driver(layout);
    const std::string c = hex(s.controller), drv = hex(d.handle);
    s.output("dh");
    struct Case {
        std::string line;
        int code;
        std::string out;    // {C} controller, {D} driver
        std::string calls;  // Supported/Start/Stop of the controller
    } cases[] = {
        {"connect {C}", 0, "Connect - Handle [{C}] Result Success.\n", "Supported {C}\nStart {C}\n"},
        {"connect {C}", 1, "Connect - Handle [{C}] Result not found.\n", "Supported {C}\n"},
        {"disconnect {C} {D} {K}", 0, "Disconnect - Handle [{C}] Driver [{D}] Result Success.\n",
         "Stop {C} child {K} 1\n"},
        {"disconnect {C}", 0, "Disconnect - Handle [{C}] Result Success.\n", "Stop {C} 0\n"},
        {"connect {D} {C}", 0, "Connect - Handle [{C}] Driver [{D}] Result Success.\n", "Supported {C}\nStart {C}\n"},
        {"reconnect {C} {D}", 0,
         "Disconnect - Handle [{C}] Driver [{D}] Result Success.\nConnect - Handle [{C}] Driver [{D}] Result Success.\n",
         "Stop {C} child {K} 1\nStop {C} 0\nSupported {C}\nStart {C}\n"},
    };
    std::string kid;
    auto fill = [&](std::string text) {
        auto put = [&](const std::string& key, const std::string& value) {
            for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
        };
        put("{C}", c);
        put("{D}", drv);
        put("{K}", kid);
        return text;
    };
    for (const Case& k : cases) {
        kid = d.children.empty() ? "?" : hex(d.children[0]);
        const std::string line = fill(k.line);
        auto r = s.run_captured(line);
        EXPECT_EQ(r.code, k.code) << line;
        EXPECT_EQ(r.out, fill(k.out)) << line;
        s.output("dh");  // number the handles made meanwhile
        std::string calls;
        for (auto& call : s.calls())
            if (call.controller == s.controller) calls += call.what + " " + hex(call.controller) +
                                                         (call.child ? " child " + hex(call.child) : "") +
                                                         (call.what == "Stop" ? " " + std::to_string(call.number) : "") + "\n";
        s.calls().clear();
        EXPECT_EQ(calls, fill(k.calls)) << line;
    }
    s.expect_failure("connect " + c + " " + c, 1, "connect: " + c + " is not a driver\n");
    s.expect_failure("disconnect " + c + " " + c, 1, "disconnect: " + c + " is not a driver\n");
    s.expect_failure("connect 1 2 3", 2, "usage: connect");
    s.expect_failure("disconnect", 2, "usage: disconnect");
    s.expect_failure("reconnect 1 2 3 4", 2, "usage: reconnect");
    s.expect_failure("connect -x", 2, "connect: unknown option");
}

TEST(DriversControl, AFailedDisconnectIsNotFollowedByAConnect) {
    DriverShell s;
    sim::DriverLayout layout;
    layout.stop_status = efi::kAccessDenied;
    auto& d = s.driver(layout);
    ASSERT_EQ(s.connect(s.controller, d.handle), efi::kSuccess);
    s.calls().clear();
    auto r = s.run_captured("reconnect " + hex(s.controller));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "Disconnect - Handle [" + hex(s.controller) + "] Result access denied.\n");
    EXPECT_EQ(s.call_text(), "Stop " + hex(s.controller) + " 0\n");
}

TEST(DriversControl, AllControllersAndTheVolumesAfterwards) {
    DriverShell s;
    sim::DriverLayout layout;
    auto& d = s.driver(layout);
    ASSERT_EQ(s.connect(s.controller, d.handle), efi::kSuccess);
    s.add_file("\\keep\\a.txt", "x");
    ASSERT_EQ(s.run("cd fs0:\\keep").code, 0);
    EXPECT_EQ(s.output("disconnect -r"), "All controllers disconnected (consoles reconnected).\n");
    auto r = s.run_captured("openinfo " + hex(s.controller));
    EXPECT_EQ(r.out.find("Driver "), std::string::npos);
    EXPECT_EQ(s.output("reconnect -r"), "All controllers reconnected.\n");
    EXPECT_NE(s.output("openinfo " + hex(s.controller)).find("Driver "), std::string::npos);
    // The current directory, file commands and redirection still work.
    EXPECT_EQ(s.output("cd"), "fs0:\\keep\n");
    ASSERT_EQ(s.run("echo hi > out.txt").code, 0);
    EXPECT_EQ(s.file_content("\\keep\\out.txt"), "hi\n");
    EXPECT_EQ(s.output("connect"), "");
    EXPECT_EQ(s.output("connect -c"), "Console devices connected.\n");
}

struct LoadWorld : DriverShell {
    int started = 0;
    LoadWorld() {
        add_file("\\drivers\\a_app.efi", "application image");
        add_file("\\drivers\\b_drv.efi", "driver image");
        add_file("\\bad.efi", "corrupt");
        fw.register_image_buffer(as_bytes("application image"), [this](efi::Handle, efi::SystemTable*) {
            started++;
            return efi::kSuccess;
        });
        sim::ImageOptions driver;
        driver.driver = true;
        fw.register_image_buffer(as_bytes("driver image"), [this](efi::Handle image, efi::SystemTable*) {
            started++;
            sim::DriverLayout layout;
            layout.name = "Loaded Driver";
            sim::add_driver(fw, layout, image);
            auto* li = static_cast<efi::LoadedImage*>(fw.handles().find(image, efi::kLoadedImageProtocolGuid));
            li->unload = sim::unload_sim_driver;
            return efi::kSuccess;
        }, driver);
    }
};

TEST(DriversControl, LoadRefusesApplicationsStartsDriversAndConnectsOnce) {
    LoadWorld s;
    auto r = s.run_captured("load fs0:\\drivers\\*.efi");
    EXPECT_EQ(r.code, 1);  // the application counts as a failure
    EXPECT_EQ(r.errors, "load: fs0:\\drivers\\a_app.efi is an application, not a driver: run it by typing its name\n");
    EXPECT_EQ(r.out.rfind("Image 'fs0:\\drivers\\b_drv.efi' loaded at 0x", 0), 0u);
    EXPECT_EQ(r.out.substr(r.out.size() - 11), " - Success\n");
    EXPECT_EQ(s.started, 1);
    // One connect-all: the controller was offered to the new driver once, and it took it.
    int starts = 0;
    for (auto& c : s.calls()) starts += c.what == "Start" && c.controller == s.controller;
    EXPECT_EQ(starts, 1);
    EXPECT_NE(s.output("drivers").find("Loaded Driver"), std::string::npos);
    s.expect_failure("load fs0:\\bad.efi", 1, "load: fs0:\\bad.efi: load error\n");
    s.expect_failure("load fs0:\\none.efi", 1, "load: fs0:\\none.efi: not found\n");
    s.expect_failure("load zz:\\x.efi", 1, "load: zz:\\x.efi: invalid path\n");
    s.expect_failure("load", 2, "usage: load");
}

TEST(DriversControl, LoadWithoutConnectAndUnderSecureBoot) {
    LoadWorld s;
    s.calls().clear();
    auto r = s.run_captured("load -nc fs0:\\drivers\\b_drv.efi");
    EXPECT_EQ(r.code, 0);
    for (auto& c : s.calls()) EXPECT_NE(c.what, "Start");
    // Refused by Secure Boot: an image gets the Secure Boot message, a file without the
    // headers of one the status text.
    auto image = debug_image(DebugImage{});
    const std::string pe(image.begin(), image.end());
    s.add_file("\\unsigned.efi", pe);
    s.add_file("\\corrupt.efi", "not an image");
    sim::ImageOptions refused;
    refused.load_status = efi::kSecurityViolation;
    refused.driver = true;
    for (const std::string& content : {pe, std::string("not an image")})
        s.fw.register_image_buffer(as_bytes(content), [](efi::Handle, efi::SystemTable*) { return efi::kSuccess; },
                                   refused);
    s.expect_failure("load fs0:\\unsigned.efi", 1,
                     "load: fs0:\\unsigned.efi: not allowed by Secure Boot (the driver is not signed by a trusted key)\n");
    s.expect_failure("load fs0:\\corrupt.efi", 1, "load: fs0:\\corrupt.efi: security violation\n");
}

TEST(DriversControl, UnloadAnswers) {
    LoadWorld s;
    ASSERT_EQ(s.run_captured("load -nc fs0:\\drivers\\b_drv.efi").code, 0);
    efi::Handle image = nullptr;
    for (efi::Handle h : s.fw.handles().handles_with(efi::kDriverBindingProtocolGuid)) image = h;
    ASSERT_NE(image, nullptr);
    const std::string n = hex(image);
    struct Case {
        std::string typed;
        int code;
        const char* tail;
    } cases[] = {
        {"\r", 1, "Cancelled.\n"},
        {"no\r", 1, "Cancelled.\n"},
        {"yess\r", 1, "Cancelled.\n"},
    };
    for (const Case& c : cases) {
        s.fw.push_text(c.typed);
        auto r = s.run("unload " + n);
        EXPECT_EQ(r.code, c.code) << c.typed;
        EXPECT_NE(r.out.find("Unload handle " + n + " ("), std::string::npos);
        EXPECT_EQ(r.out.substr(r.out.size() - strlen(c.tail)), c.tail) << c.typed;
    }
    s.fw.push_text("YES\r");
    auto r = s.run("unload -v " + n);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Handle " + n + " ("), std::string::npos);  // -v: the details first
    EXPECT_NE(r.out.find("Unload - Handle [" + n + "] Result Success.\n"), std::string::npos);
    EXPECT_EQ(s.fw.handles().find(image, efi::kDriverBindingProtocolGuid), nullptr);
    s.expect_failure("unload " + hex(s.controller), 1, "unload: handle " + hex(s.controller) + " is not an image\n");
    s.expect_failure("unload " + hex(s.fw.image_handle()), 1, "unload: TARN cannot unload itself (use exit)\n");
    s.expect_failure("unload", 2, "usage: unload");
    // A driver without an Unload function.
    sim::DriverLayout layout;
    s.add_file("\\stay.efi", "staying driver");
    sim::ImageOptions driver;
    driver.driver = true;
    s.fw.register_image_buffer(as_bytes("staying driver"), [](efi::Handle, efi::SystemTable*) { return efi::kSuccess; },
                               driver);
    ASSERT_EQ(s.run_captured("load -nc fs0:\\stay.efi").code, 0);
    s.output("dh");
    efi::Handle stay = nullptr;
    for (efi::Handle h : s.fw.handles().handles_with(efi::kLoadedImageProtocolGuid)) stay = h;
    auto u = s.run_captured("unload -n " + hex(stay));
    EXPECT_EQ(u.code, 1);
    EXPECT_EQ(u.out, "Unload - Handle [" + hex(stay) + "] Result not supported: the driver cannot be unloaded.\n");
}

TEST(DriversControl, ConfigurationAndDiagnostics) {
    DriverShell s;
    sim::DriverLayout layout;
    layout.name = "Configurable";
    layout.configuration = true;
    layout.diagnostics = true;
    layout.make_child = true;
    layout.languages = "fr;en";
    auto& d = s.driver(layout);
    ASSERT_EQ(s.connect(s.controller, d.handle), efi::kSuccess);
    s.output("dh");
    const std::string prefix = "Drv[" + hex(d.handle) + "] Ctrl[" + hex(s.controller) + "]";
    const std::string child = " Child[" + hex(d.children.at(0)) + "]";
    const std::string c = hex(s.controller), k = hex(d.children.at(0));
    s.calls().clear();
    struct Case {
        std::string line;
        int code;
        std::string out;
        std::string calls;
    } cases[] = {
        {"drvcfg", 0, prefix + " Configurable\n", ""},
        {"drvcfg -c", 0, prefix + " Configurable\n" + prefix + child + " Configurable\n", ""},
        {"drvcfg -s", 0, prefix + " done\n", "SetOptions " + c + " en\n"},
        {"drvcfg -s -l fr", 0, prefix + " done\n", "SetOptions " + c + " fr\n"},
        {"drvcfg -v -c", 0, prefix + " options valid\n" + prefix + child + " options valid\n",
         "OptionsValid " + c + "\nOptionsValid " + c + " child " + k + "\n"},
        {"drvcfg -f 5", 0, prefix + " done\n", "ForceDefaults " + c + " 5\n"},
        {"drvcfg -f 0x1 " + hex(d.handle) + " " + c, 0, prefix + " done\n", "ForceDefaults " + c + " 1\n"},
        {"drvdiag", 0, prefix + " Configurable\n", ""},
        {"drvdiag -s", 0, prefix + " passed\n", "RunDiagnostics " + c + " 0 en\n"},
        {"drvdiag -e -l fr", 0, prefix + " passed\n", "RunDiagnostics " + c + " 1 fr\n"},
        {"drvdiag -m -c " + hex(d.handle) + " " + c + " " + k, 0,
         prefix + " passed\n" + prefix + child + " passed\n",
         "RunDiagnostics " + c + " 2 en\nRunDiagnostics " + c + " child " + k + " 2 en\n"},
    };
    for (const Case& x : cases) {
        auto r = s.run_captured(x.line);
        EXPECT_EQ(r.code, x.code) << x.line;
        EXPECT_EQ(r.out, x.out) << x.line;
        EXPECT_EQ(r.errors, "") << x.line;
        EXPECT_EQ(s.call_text(), x.calls) << x.line;
    }
    d.action_required = 2;
    EXPECT_EQ(s.output("drvcfg -s"), prefix + " done, action required: restart the controller\n");
    d.configuration_status = efi::kDeviceError;
    auto r = s.run_captured("drvcfg -v");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, prefix + " device error\n");
    d.diagnostics_status = efi::kDeviceError;
    d.diagnostics_message = u"sector 7 unreadable";
    auto diag = s.run_captured("drvdiag -s");
    EXPECT_EQ(diag.code, 1);
    EXPECT_EQ(diag.out, prefix + " device error\n    sector 7 unreadable\n");
    s.calls().clear();
    s.expect_failure("drvcfg -f", 2, "drvcfg: -f needs a default type: 0 safe defaults, 1 manufacturing defaults\n");
    s.expect_failure("drvcfg -f x", 2, "-f needs a default type");
    s.expect_failure("drvcfg -f 1 -s", 2, "drvcfg: choose only one of -f, -v, -s\n");
    s.expect_failure("drvdiag -s -e", 2, "drvdiag: choose only one of -s, -e, -m\n");
    s.expect_failure("drvcfg zz", 1, "drvcfg: zz is not a valid handle number (see dh)\n");
    EXPECT_EQ(s.call_text(), "");
    EXPECT_EQ(s.output("drvcfg " + hex(d.handle) + " " + k),
              "No driver with a configuration protocol manages the selected devices.\n");
    EXPECT_EQ(s.output("drvdiag " + c), "No driver with diagnostics manages the selected devices.\n");
    const efi::Guid hii = {0x330d4706, 0xf2a0, 0x4e4f, {0xa3, 0x69, 0xb6, 0x6f, 0xa8, 0xd5, 0x43, 0x85}};
    efi::Handle form = s.fw.handles().install_new(hii, &s);
    s.output("dh");
    EXPECT_EQ(s.output("drvcfg " + c),
              "No driver with a configuration protocol manages the selected devices.\n"
              "1 handles offer HII configuration forms (set up from the firmware setup menu): " + hex(form) + "\n");
}

}  // namespace
