// sermode: show the settings of the serial ports, or set one port's line.
#include "drivers/handle_table.h"
#include "hw/hw_commands.h"
#include "hw/serial_settings.h"
#include "runtime/errors.h"
#include "runtime/firmware.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "shell/registry.h"
#include "uefi/guids.h"
#include "uefi/protocols.h"

namespace tarn {
namespace {

int sermode_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"sermode", sermode_command, "sermode [HANDLE [BAUD PARITY DATABITS STOPBITS]]",
     "Show or set serial port settings",
     "  Without HANDLE, shows every serial port; with HANDLE (hexadecimal), that one.\n"
     "  sermode HANDLE BAUD PARITY DATABITS STOPBITS   sets the port's line\n"
     "  BAUD       decimal bits per second\n"
     "  PARITY     d (default), n (none), e (even), o (odd), m (mark) or s (space)\n"
     "  DATABITS   5 to 8\n"
     "  STOPBITS   0 (default), 1, 1.5 (also 15) or 2\n",
     0},
};

constexpr const char* kSetUsage = "sermode HANDLE BAUD d|n|e|o|m|s DATABITS(5-8) 0|1|1.5|2";

efi::SerialIo* serial_of(efi::Handle handle) {
    efi::BootServices* bs = boot_services();
    void* iface = nullptr;
    if (!bs || bs->handle_protocol(handle, &efi::kSerialIoProtocolGuid, &iface) != efi::kSuccess) return nullptr;
    return static_cast<efi::SerialIo*>(iface);
}

void show_port(efi::Handle handle, const efi::SerialIo* io) {
    const unsigned long long number = handle_number(handle);
    const efi::SerialIoMode* m = static_cast<const efi::SerialIoMode*>(io->mode);
    if (!m) {
        out_printf("Handle %llX: settings unknown\n", number);
        return;
    }
    out_printf("Handle %llX: %llu baud, parity %s, %u data bits, stop bits %s\n", number,
               static_cast<unsigned long long>(m->baud_rate), serial_parity_name(m->parity), m->data_bits,
               serial_stop_bits_name(m->stop_bits));
}

int show_all_ports() {
    efi::BootServices* bs = boot_services();
    uint64_t n = 0;
    efi::Handle* handles = nullptr;
    if (bs && !efi::is_error(bs->locate_handle_buffer(efi::kByProtocol, &efi::kSerialIoProtocolGuid, nullptr, &n,
                                                       &handles)) && handles) {
        int shown = 0;
        for (uint64_t i = 0; i < n; i++)
            if (efi::SerialIo* io = serial_of(handles[i])) {
                show_port(handles[i], io);
                shown++;
            }
        bs->free_pool(handles);
        if (shown) return 0;
    } else if (handles) {
        bs->free_pool(handles);
    }
    out_printf("No serial ports.\n");
    return 0;
}

int sermode_command(int count, char** vector) {
    const int operands = count - 1;
    if (operands == 0) return show_all_ports();
    if (operands != 1 && operands != 5) {
        print_error("usage: %s\n", kSetUsage);
        return kExitUsage;
    }
    SerialSettings settings{};
    if (operands == 5 && !parse_serial_settings(vector[2], vector[3], vector[4], vector[5], &settings)) {
        print_error("usage: %s\n", kSetUsage);
        return kExitUsage;
    }
    efi::Handle handle = parse_handle_number(vector[1]);
    if (!handle) return report_error("sermode", "%s is not a handle", vector[1]);
    efi::SerialIo* io = serial_of(handle);
    if (!io) return report_error("sermode", "%s is not a serial port handle", vector[1]);
    if (operands == 5) {
        const efi::SerialIoMode* m = static_cast<const efi::SerialIoMode*>(io->mode);
        // The receive FIFO depth and timeout stay as they are.
        const uint32_t fifo = m ? m->receive_fifo_depth : 0;
        const uint32_t timeout = m ? m->timeout : 0;
        const efi::Status st = io->set_attributes(io, settings.baud, fifo, timeout, settings.parity,
                                                  settings.data_bits, settings.stop_bits);
        if (efi::is_error(st)) return report_error("sermode", "%s", status_message(st));
        // Setting the line may have replaced the port's protocol instance.
        if (efi::SerialIo* again = serial_of(handle)) io = again;
    }
    show_port(handle, io);
    return 0;
}

}  // namespace

void register_sermode_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
