// A shell over a small simulated driver world for the driver command tests: a block
// device controller, a bus driver that makes a child on it, and helpers for numbers.
#pragma once
#include <string>

#include "command_test.h"
#include "driver_images.h"
#include "drivers.h"
#include "drivers/handle_table.h"
#include "handles.h"
#include "runtime/format.h"

namespace tarn_test {

inline std::string hex(tarn::efi::Handle h) {
    char text[20];
    tarn::format_into(text, sizeof text, "%X", static_cast<unsigned>(tarn::handle_number(h)));
    return text;
}

struct DriverShell : CommandShell {
    sim::BlockId disk = -1;
    tarn::efi::Handle controller = nullptr;

    DriverShell() : CommandShell(file_commands()) {
        sim::BlockLayout layout;
        layout.location = {0, 5, 0, false, 0, 0};
        disk = sim::add_block_device(fw, layout);
        controller = sim::block_handle(fw, disk);
    }
    sim::SimDriver& driver(const sim::DriverLayout& layout) { return sim::add_driver(fw, layout); }
    // Connects through the firmware service as the shell would, outside any command.
    tarn::efi::Status connect(tarn::efi::Handle controller_handle, tarn::efi::Handle driver_handle, bool recursive = false) {
        tarn::efi::Handle list[2] = {driver_handle, nullptr};
        return fw.system_table()->boot_services->connect_controller(controller_handle,
                                                                    driver_handle ? list : nullptr, nullptr,
                                                                    recursive);
    }
    std::vector<sim::DriverCall>& calls() { return sim::driver_calls(fw); }
    // The calls of one kind, as "What controller-number [child-number] [n]".
    std::string call_text() {
        std::string out;
        for (auto& c : calls()) {
            out += c.what + " " + hex(c.controller);
            if (c.child) out += " child " + hex(c.child);
            if (c.what == "Stop" || c.what == "ForceDefaults" || c.what == "RunDiagnostics")
                out += " " + std::to_string(c.number);
            if (!c.language.empty()) out += " " + c.language;
            out += "\n";
        }
        calls().clear();
        return out;
    }
};

}  // namespace tarn_test
