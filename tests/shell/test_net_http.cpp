// http over the fake interface's HTTP service: the request and its headers, the body
// streamed to the file with progress lines, the local-name rules, and downloads that
// stop early or fail leaving no partial file and no child behind.
#include "command_test.h"
#include "network.h"
#include "uefi/network.h"

using namespace tarn;
using namespace tarn_test;

namespace {

ShellSetup http_setup() {
    ShellSetup setup;
    setup.paging = false;
    return setup;
}

sim::HttpReply page(const std::string& body, bool length = true) {
    sim::HttpReply r;
    r.body = body;
    if (length) r.headers = {{"Content-Type", "application/octet-stream"}, {"Content-Length", std::to_string(body.size())}};
    return r;
}

struct HttpShell : CommandShell {
    HttpShell() : CommandShell(http_setup()), nic(sim::add_nic(fw)) {
        nic.station = {10, 0, 2, 15};
        nic.mask = {255, 255, 255, 0};
        nic.http_pages["http://10.0.2.100/d/file.bin"] = page(std::string(2500, 'a') + "tail");
        nic.http_pages["http://10.0.2.100/"] = page("<html>");
        nic.http_pages["http://10.0.2.100:8080/x?y=1#f"] = page("q");
        nic.http_pages["http://10.0.2.100/nolength"] = page(std::string(1500, 'n'), false);
        sim::HttpReply shorter = page(std::string(3000, 's'));
        shorter.close_after = 1200;
        nic.http_pages["http://10.0.2.100/short"] = shorter;
        sim::HttpReply stalled = page(std::string(3000, 't'), false);
        stalled.stall_after = 1000;
        nic.http_pages["http://10.0.2.100/stalled"] = stalled;
        sim::HttpReply refused{20, {{"Content-Length", "0"}}, ""};  // 403
        refused.response_status = efi::kHttpError;
        nic.http_pages["http://10.0.2.100/refused"] = refused;
        sim::HttpReply broken = refused;
        broken.status = 0;  // no status line the driver could read
        nic.http_pages["http://10.0.2.100/broken"] = broken;
    }
    RunResult checked(const std::string& line) {
        int64_t before = fw.outstanding_allocations();
        RunResult r = run_captured(line);
        EXPECT_EQ(fw.outstanding_allocations(), before) << "leak in: " << line;
        EXPECT_EQ(nic.http_children_created, nic.http_children_destroyed) << line;
        expect_handles_closed();
        return r;
    }
    sim::FakeNic& nic;
};

}  // namespace

TEST(NetHttp, StreamsTheBodyWithProgress) {
    HttpShell s;
    auto r = s.checked("http http://10.0.2.100/d/file.bin");
    EXPECT_EQ(r.code, 0) << r.errors;
    EXPECT_EQ(r.out,
              "Downloading http://10.0.2.100/d/file.bin\n"
              "\r  1000 / 2504 bytes\r  2504 / 2504 bytes\n2504 bytes saved to fs0:\\file.bin\n");
    EXPECT_EQ(s.file_content("\\file.bin"), std::string(2500, 'a') + "tail");
    ASSERT_EQ(s.nic.http_requests.size(), 1u);
    EXPECT_EQ(s.nic.http_requests[0],
              "GET http://10.0.2.100/d/file.bin|Host: 10.0.2.100|Accept: */*|User-Agent: TARN/0.2.1");
}

TEST(NetHttp, LocalNamesAndHostHeader) {
    struct Case {
        const char* line;
        const char* saved;
        const char* host;
    };
    const Case cases[] = {
        {"http http://10.0.2.100/", "\\index.html", "Host: 10.0.2.100|"},
        {"http http://10.0.2.100:8080/x?y=1#f", "\\x", "Host: 10.0.2.100:8080|"},
        {"http http://10.0.2.100/d/file.bin sub.bin", "\\sub.bin", "Host: 10.0.2.100|"},
        {"http -s 100 -t 50 http://10.0.2.100/nolength", "\\nolength", "Host: 10.0.2.100|"},
    };
    for (const Case& c : cases) {
        HttpShell s;
        auto r = s.checked(c.line);
        EXPECT_EQ(r.code, 0) << c.line << r.errors;
        EXPECT_TRUE(s.exists(c.saved)) << c.line;
        ASSERT_EQ(s.nic.http_requests.size(), 1u);
        EXPECT_NE(s.nic.http_requests[0].find(c.host), std::string::npos) << s.nic.http_requests[0];
    }
    HttpShell s;
    s.nic.http_chunk = 64;
    EXPECT_EQ(s.checked("http -s 100 http://10.0.2.100/nolength").out,
              "Downloading http://10.0.2.100/nolength\n\n1500 bytes saved to fs0:\\nolength\n");
}

TEST(NetHttp, FailuresRemoveThePartialFile) {
    struct Case {
        const char* line;
        void (*arrange)(HttpShell&);
        int code;
        const char* errors;
        const char* out_part;
    };
    const Case cases[] = {
        {"http http://10.0.2.100/short", nullptr, 1, "", "\ndownload incomplete (1200 of 3000 bytes)\n"},
        {"http http://10.0.2.100/missing", nullptr, 1, "http: server answered 404\n", ""},
        // No length, and the server stops after the first chunk without closing.
        {"http -t 50 http://10.0.2.100/stalled short", nullptr, 1, "http: no response: timeout\n", ""},
        {"http http://10.0.2.100/refused short", nullptr, 1, "http: server answered 403\n", ""},
        {"http http://10.0.2.100/broken short", nullptr, 1, "http: no response: unknown error\n", ""},
        {"http http://10.0.2.100/short", [](HttpShell& s) { s.nic.http_silent = true; }, 1,
         "http: no response: timeout\n", ""},
        {"http http://10.0.2.100/short", [](HttpShell& s) { s.nic.http_request_status = efi::kNoMapping; }, 1,
         "http: request failed: no mapping\n", ""},
        {"http http://10.0.2.100/short", [](HttpShell& s) { s.nic.http_configure_status = efi::kDeviceError; }, 1,
         "http: cannot configure HTTP: device error\n", ""},
        {"http http://10.0.2.100/short", [](HttpShell& s) { sim::set_free_space(s.fw, s.boot_volume(), 500); }, 1,
         "http: fs0:\\short: volume full\n", ""},
        {"http https://10.0.2.100/short", nullptr, 1,
         "http: only http:// addresses are supported (https needs the firmware TLS driver)\n", ""},
        {"http http://[fe80::g]/short", nullptr, 1, "http: http://[fe80::g]/short is not a valid IPv6 address\n", ""},
        {"http http://10.0.2.100/short fs9:\\x", nullptr, 1, "http: invalid local file\n", ""},
        {"http -s 0 http://10.0.2.100/short", nullptr, 2, "usage: http", ""},
        {"http -t 0 http://10.0.2.100/short", nullptr, 2, "usage: http", ""},
        {"http", nullptr, 2, "usage: http", ""},
        {"http a b c", nullptr, 2, "usage: http", ""},
    };
    for (const Case& c : cases) {
        HttpShell s;
        if (c.arrange) c.arrange(s);
        auto r = s.checked(c.line);
        EXPECT_EQ(r.code, c.code) << c.line;
        if (c.code == 2) EXPECT_EQ(r.errors.rfind(c.errors, 0), 0u) << c.line << r.errors;
        else EXPECT_EQ(r.errors, c.errors) << c.line;
        EXPECT_NE(r.out.find(c.out_part), std::string::npos) << c.line << r.out;
        EXPECT_FALSE(s.exists("\\short")) << c.line;
        EXPECT_FALSE(s.exists("\\missing")) << c.line;
    }
    CommandShell none(http_setup());
    sim::NicSetup setup;
    setup.http_service = false;
    sim::add_nic(none.fw, setup).station = {10, 0, 2, 15};
    none.expect_failure("http http://10.0.2.100/", 1, "http: no HTTP service on this interface (HttpDxe not loaded?)\n");
}
