// Fake PCI root bridges for host tests: configuration space as byte blobs per
// bus/device/function, a bus range in QWORD resource descriptors, and the bridge's memory
// access over the physical-memory blobs.
#pragma once
#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace sim {

class SimFirmware;
class FakeRootBridge;

struct RootBridgeSetup {
    uint32_t segment = 0;
    bool descriptors = true;   // false: Configuration reports nothing
    uint64_t bus_min = 0;
    uint64_t bus_max = 0xff;
};

// Installs a root bridge on a new handle; the firmware owns it.
FakeRootBridge& add_root_bridge(SimFirmware& fw, const RootBridgeSetup& setup = {});

class FakeRootBridge {
public:
    // Places a function's configuration space (256 or 4096 bytes; shorter is padded
    // with 0xFF). A function not placed reads as all ones.
    void put_function(uint32_t bus, uint32_t device, uint32_t function, std::string space);
    std::string& space(uint32_t bus, uint32_t device, uint32_t function);
    // Reads at or past this register fail (the extended space is not reachable).
    uint32_t fail_from = 0x10000;
    // Every configuration access, as "R|W bus:dev.fn reg width".
    std::vector<std::string> log;

    struct Impl;
    std::unique_ptr<Impl> impl;
    FakeRootBridge();
    ~FakeRootBridge();
};

// A 256-byte type-0 header with vendor, device, class (base/sub/interface), header type.
std::string pci_header(uint16_t vendor, uint16_t device, uint32_t class_code, uint8_t header_type = 0);

}  // namespace sim
