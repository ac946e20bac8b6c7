// The fake Graphics Output protocol.
#include "graphics.h"

#include "handles.h"
#include "sim.h"
#include "sim_impl.h"

namespace sim {

using tarn::efi::GraphicsOutput;
using tarn::efi::GraphicsOutputModeInformation;
using tarn::efi::Status;

struct FakeGraphics::Impl {
    GraphicsOutput protocol{};  // first, so the protocol pointer is the Impl's
    tarn::efi::GraphicsOutputProtocolMode mode{};
    GraphicsOutputModeInformation info{};
    GraphicsLayout layout;
    tarn::efi::Handle handle = nullptr;
    std::vector<GraphicsSetCall> calls;
};

namespace {

struct GraphicsState {
    std::vector<std::unique_ptr<FakeGraphics>> list;
};

FakeGraphics::Impl* impl_of(GraphicsOutput* self) { return reinterpret_cast<FakeGraphics::Impl*>(self); }

GraphicsOutputModeInformation info_of(const GraphicsModeLayout& m) {
    GraphicsOutputModeInformation info{};
    info.horizontal_resolution = m.width;
    info.vertical_resolution = m.height;
    info.pixel_format = m.pixel_format;
    info.pixels_per_scan_line = m.width;
    return info;
}

void show_mode(FakeGraphics::Impl& d, uint32_t mode) {
    d.mode.mode = mode;
    d.info = info_of(d.layout.modes[mode]);
    d.mode.frame_buffer_size = uint64_t{d.info.horizontal_resolution} * d.info.vertical_resolution * 4;
}

Status EFIAPI gop_query_mode(GraphicsOutput* self, uint32_t mode, uint64_t* size,
                             GraphicsOutputModeInformation** info) {
    FakeGraphics::Impl* d = impl_of(self);
    if (!size || !info || mode >= d->layout.modes.size()) return tarn::efi::kInvalidParameter;
    if (d->layout.modes[mode].query_fails) return tarn::efi::kDeviceError;
    void* block = pool_alloc(current_impl(), sizeof(GraphicsOutputModeInformation));
    if (!block) return tarn::efi::kOutOfResources;
    *static_cast<GraphicsOutputModeInformation*>(block) = info_of(d->layout.modes[mode]);
    *info = static_cast<GraphicsOutputModeInformation*>(block);
    *size = sizeof(GraphicsOutputModeInformation);
    return tarn::efi::kSuccess;
}

Status EFIAPI gop_set_mode(GraphicsOutput* self, uint32_t mode) {
    FakeGraphics::Impl* d = impl_of(self);
    const auto* out = current_impl().st.con_out;
    d->calls.push_back({mode, out && out->mode ? out->mode->mode : -1});
    if (mode >= d->layout.modes.size()) return tarn::efi::kUnsupported;
    if (d->layout.modes[mode].set_status) return d->layout.modes[mode].set_status;
    show_mode(*d, mode);
    return tarn::efi::kSuccess;
}

}  // namespace

FakeGraphics::FakeGraphics() : impl(std::make_unique<Impl>()) {}
FakeGraphics::~FakeGraphics() = default;

GraphicsOutput* FakeGraphics::protocol() { return &impl->protocol; }
tarn::efi::Handle FakeGraphics::handle() const { return impl->handle; }
uint32_t FakeGraphics::current() const { return impl->mode.mode; }
std::vector<GraphicsSetCall>& FakeGraphics::calls() { return impl->calls; }

FakeGraphics& add_graphics(SimFirmware& fw, const GraphicsLayout& layout) {
    auto& list = fw.module_state<GraphicsState>().list;
    list.push_back(std::make_unique<FakeGraphics>());
    FakeGraphics& g = *list.back();
    FakeGraphics::Impl& d = *g.impl;
    d.layout = layout;
    d.protocol.query_mode = gop_query_mode;
    d.protocol.set_mode = gop_set_mode;
    d.protocol.mode = &d.mode;
    d.mode.max_mode = static_cast<uint32_t>(layout.modes.size());
    d.mode.info = &d.info;
    d.mode.size_of_info = sizeof(GraphicsOutputModeInformation);
    d.mode.frame_buffer_base = layout.frame_buffer_base;
    if (layout.current < layout.modes.size()) show_mode(d, layout.current);
    d.handle = layout.on_console ? fw.system_table()->console_out_handle : nullptr;
    fw.handles().install(&d.handle, tarn::efi::kGraphicsOutputProtocolGuid, &d.protocol);
    return g;
}

}  // namespace sim
