// The fake PCI root bridge protocol.
#include <cstdio>
#include <cstring>

#include "handles.h"
#include "hw/pci_root_bridge.h"
#include "hw/phys_memory.h"
#include "pci.h"
#include "phys_memory.h"
#include "sim.h"

namespace sim {

using tarn::efi::PciRootBridgeIo;
using tarn::efi::Status;

struct FakeRootBridge::Impl {
    PciRootBridgeIo protocol{};  // first, so the protocol pointer is the Impl's
    FakeRootBridge* owner = nullptr;
    RootBridgeSetup setup;
    std::vector<uint8_t> descriptors;
    std::map<std::tuple<uint32_t, uint32_t, uint32_t>, std::string> functions;
};

namespace {

struct Bridges {
    std::vector<std::unique_ptr<FakeRootBridge>> list;
};

FakeRootBridge::Impl* impl_of(PciRootBridgeIo* self) { return reinterpret_cast<FakeRootBridge::Impl*>(self); }

int width_bytes(uint32_t width) { return width <= 3 ? 1 << width : 0; }

Status config_access(PciRootBridgeIo* self, uint32_t width, uint64_t address, uint64_t count, void* buffer,
                     bool write) {
    FakeRootBridge::Impl* d = impl_of(self);
    const int w = width_bytes(width);
    if (!w || !buffer || count != 1) return tarn::efi::kInvalidParameter;
    const uint32_t bus = (address >> 24) & 0xff, dev = (address >> 16) & 0xff, fn = (address >> 8) & 0xff;
    uint32_t reg = static_cast<uint32_t>(address >> 32);
    if (!reg) reg = address & 0xff;
    char line[64];
    std::snprintf(line, sizeof line, "%c %02x:%02x.%x %x %d", write ? 'W' : 'R', bus, dev, fn, reg, w);
    d->owner->log.push_back(line);
    if (reg >= d->owner->fail_from || reg + w > 4096 || dev > 31 || fn > 7) return tarn::efi::kDeviceError;
    auto it = d->functions.find({bus, dev, fn});
    if (write) {
        if (it != d->functions.end() && reg + w <= it->second.size())
            std::memcpy(&it->second[reg], buffer, w);
        return tarn::efi::kSuccess;
    }
    if (it == d->functions.end() || reg + w > it->second.size()) {
        std::memset(buffer, 0xff, w);
    } else {
        std::memcpy(buffer, it->second.data() + reg, w);
    }
    return tarn::efi::kSuccess;
}

Status EFIAPI pci_read(PciRootBridgeIo* self, uint32_t width, uint64_t address, uint64_t count, void* buffer) {
    return config_access(self, width, address, count, buffer, false);
}
Status EFIAPI pci_write(PciRootBridgeIo* self, uint32_t width, uint64_t address, uint64_t count, void* buffer) {
    return config_access(self, width, address, count, buffer, true);
}
Status EFIAPI mem_read(PciRootBridgeIo*, uint32_t width, uint64_t address, uint64_t count, void* buffer) {
    const int w = width_bytes(width);
    if (!w || !buffer) return tarn::efi::kInvalidParameter;
    return tarn::read_physical(address, buffer, count * w) ? tarn::efi::kSuccess : tarn::efi::kDeviceError;
}
Status EFIAPI configuration(PciRootBridgeIo* self, void** resources) {
    FakeRootBridge::Impl* d = impl_of(self);
    if (!d->setup.descriptors) return tarn::efi::kUnsupported;
    *resources = d->descriptors.data();
    return tarn::efi::kSuccess;
}

void put_le(std::vector<uint8_t>& v, size_t at, uint64_t value, int n) {
    for (int i = 0; i < n; i++) v[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

FakeRootBridge::FakeRootBridge() : impl(new Impl) {}
FakeRootBridge::~FakeRootBridge() = default;

void FakeRootBridge::put_function(uint32_t bus, uint32_t device, uint32_t function, std::string space) {
    if (space.size() < 256) space.resize(256, '\xff');
    else if (space.size() > 256 && space.size() < 4096) space.resize(4096, '\xff');
    impl->functions[{bus, device, function}] = std::move(space);
}

std::string& FakeRootBridge::space(uint32_t bus, uint32_t device, uint32_t function) {
    return impl->functions[{bus, device, function}];
}

FakeRootBridge& add_root_bridge(SimFirmware& fw, const RootBridgeSetup& setup) {
    auto bridge = std::make_unique<FakeRootBridge>();
    FakeRootBridge::Impl* d = bridge->impl.get();
    d->owner = bridge.get();
    d->setup = setup;
    d->protocol.pci = {pci_read, pci_write};
    d->protocol.mem = {mem_read, nullptr};
    d->protocol.configuration = configuration;
    d->protocol.segment_number = setup.segment;
    // A memory-range descriptor first (not a bus range), then the bus range, then the end tag.
    d->descriptors.assign(46 * 2 + 2, 0);
    for (int k = 0; k < 2; k++) {
        const size_t at = 46 * k;
        d->descriptors[at] = 0x8a;
        put_le(d->descriptors, at + 1, 43, 2);
        d->descriptors[at + 3] = k == 0 ? 0 : 2;
        put_le(d->descriptors, at + 14, k == 0 ? 0x80000000 : setup.bus_min, 8);
        put_le(d->descriptors, at + 22, k == 0 ? 0x8fffffff : setup.bus_max, 8);
    }
    d->descriptors[92] = 0x79;
    add_physical_blob_view(fw, d->descriptors.data(), d->descriptors.size());
    fw.handles().install_new(tarn::efi::kPciRootBridgeIoProtocolGuid, &d->protocol);
    FakeRootBridge& ref = *bridge;
    fw.module_state<Bridges>().list.push_back(std::move(bridge));
    return ref;
}

std::string pci_header(uint16_t vendor, uint16_t device, uint32_t class_code, uint8_t header_type) {
    std::string s(256, '\0');
    auto put = [&](size_t at, uint64_t v, int n) {
        for (int i = 0; i < n; i++) s[at + i] = static_cast<char>(v >> (8 * i));
    };
    put(0, vendor, 2);
    put(2, device, 2);
    put(8, class_code << 8 | 0x01, 4);  // revision 1
    s[0x0e] = static_cast<char>(header_type);
    return s;
}

}  // namespace sim
