// The state of the simulated firmware shared by its core files (sim_core.cpp,
// handles.cpp, screen.cpp, keyboard.cpp, processor.cpp). Not for tests.
#pragma once
#include <csetjmp>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "sim.h"
#include "uefi/guids.h"

namespace sim {

struct EventRec {
    uint32_t type = 0;
    efi::Tpl tpl = 0;
    efi::EventNotify notify = nullptr;
    void* context = nullptr;
    bool signaled = false;
    bool armed = false;       // a timer is set
    uint64_t trigger_us = 0;  // virtual time of the next expiry
    uint64_t period_us = 0;   // 0 for a one-shot timer
    bool has_group = false;
    efi::Guid group{};
    uint64_t seq = 0;  // creation order, breaks ties between timers
};

// Where Exit, ResetSystem and abnormal ends jump to: run() or StartImage.
struct ExitContext {
    std::jmp_buf jump;
    efi::Handle image = nullptr;
    bool is_run = false;
    // Filled in before the jump.
    efi::Status status = 0;
    uint64_t exit_data_size = 0;
    char16_t* exit_data = nullptr;
    bool reset = false;
    uint32_t reset_type = 0;
    bool stuck = false;
    bool halted = false;
    std::string message;
};

struct ImageRegistration {
    bool by_buffer = false;
    std::vector<uint8_t> bytes;
    std::string file_path;
    ImageEntry entry;
    ImageOptions options;
};

struct ImageRec {
    efi::Handle handle = nullptr;
    const ImageRegistration* registration = nullptr;  // null for the top-level image
    efi::LoadedImage loaded{};
    std::vector<uint8_t> file_path;  // device path copies referenced by loaded
    std::vector<uint8_t> full_path;
    std::vector<uint8_t> image_bytes;
    efi::Status load_status = 0;
    bool started = false;
    bool running = false;
};

struct QueuedKey {
    efi::KeyData data{};
    uint64_t available_us = 0;
    bool arrived = false;  // key notifications have run for it
};

struct KeyNotifyReg {
    efi::KeyData key{};
    efi::KeyNotifyFunction fn = nullptr;
};

struct SimFirmware::Impl {
    SimFirmware* owner = nullptr;

    efi::SystemTable st{};
    efi::BootServices bs{};
    efi::RuntimeServices rs{};
    std::u16string vendor = u"TARN Simulated Firmware";
    efi::Handle image = nullptr;
    std::u16string load_options;

    // pool and pages
    std::map<const void*, uint64_t> pool;
    std::map<uint64_t, uint64_t> pages;  // address -> page count
    int64_t fail_countdown = -1;
    int64_t invalid_frees = 0;

    // clock, events
    uint64_t now_us = 0;
    std::vector<std::unique_ptr<EventRec>> events;
    uint64_t event_seq = 0;
    efi::Tpl tpl = efi::kTplApplication;
    uint64_t monotonic = 0;
    uint64_t watchdog_timeout = 0;
    uint64_t watchdog_calls = 0;

    // wall clock: seconds since 1970 at virtual time 0
    int64_t wall_base_s = 0;
    uint32_t wall_ns = 0;
    int16_t time_zone = 2047;
    uint8_t daylight = 0;
    efi::Status get_time_status = 0;
    efi::Status set_time_status = 0;

    // handles and images
    HandleDatabase handles;
    std::vector<std::unique_ptr<ImageRegistration>> registrations;
    std::map<efi::Handle, std::unique_ptr<ImageRec>> images;
    uint64_t images_started = 0;
    // Innermost last. Owned here: a longjmp may skip the frame that made one.
    std::vector<std::unique_ptr<ExitContext>> contexts;

    // configuration tables
    std::vector<efi::ConfigurationTable> config_tables;

    // console output
    Screen screen;
    efi::SimpleTextOutput con_out{};
    efi::SimpleTextOutputMode out_mode{};
    std::vector<TextMode> modes{{80, 25}, {100, 31}};
    bool query_mode_fails = false;
    std::set<uint64_t> unavailable_modes;
    std::map<uint64_t, efi::Status> refused_modes;
    efi::Handle con_out_handle = nullptr;

    // serial terminal (terminal.cpp)
    bool terminal = false;
    bool terminal_answers = true;
    uint64_t terminal_answer_delay_us = 0;
    int64_t fw_column = 0, fw_row = 0;  // the firmware's idea of the cursor
    efi::SerialIo serial{};
    efi::Handle serial_handle = nullptr;
    std::string serial_sequence;  // an escape sequence not yet complete
    std::string serial_bytes;
    uint64_t output_us_per_unit = 0;

    // console input
    efi::SimpleTextInput con_in{};
    efi::SimpleTextInputEx con_in_ex{};
    efi::Handle con_in_handle = nullptr;
    bool ex_installed = false;
    bool reset_flushes = false;
    bool notify_ignores_shift = false;
    std::deque<QueuedKey> keys;
    uint64_t last_key_us = 0;
    std::vector<std::unique_ptr<KeyNotifyReg>> key_notifies;
    uint8_t toggle_state = 0;

    // live console
    SimFirmware::ConsoleListener listener;
    SimFirmware::KeySource key_source;
    bool key_source_ended = false;

    // processor
    std::vector<PortAccess> port_log;
    std::map<uint16_t, uint32_t> port_inputs;

    // module states
    std::map<const void*, std::shared_ptr<void>> states;
};

// The implementation of the firmware that exists now (aborts when there is none).
SimFirmware::Impl& current_impl();

// Clock: moves virtual time to target, firing timers and key arrivals in time order.
void advance_to(SimFirmware::Impl& im, uint64_t target_us);
// Events.
EventRec* find_event(SimFirmware::Impl& im, efi::Event event);
void signal_event(SimFirmware::Impl& im, EventRec* ev);
efi::Event create_event(SimFirmware::Impl& im, uint32_t type, efi::Tpl tpl, efi::EventNotify fn,
                        void* context);
void destroy_event(SimFirmware::Impl& im, efi::Event event);

// Pool used by sim modules: accounted, subject to failure injection.
void* pool_alloc(SimFirmware::Impl& im, uint64_t size);
efi::Status pool_free(SimFirmware::Impl& im, void* block);

// Drops ctx and every context above it (unloading images that were running there).
void unwind_contexts(SimFirmware::Impl& im, ExitContext* ctx);
// Ends the active run() (or, without one, the test) because of an abnormal condition.
[[noreturn]] void end_run_abnormally(SimFirmware::Impl& im, bool stuck, const char* why);
// The processor stand-ins (host/cpu_host.h) follow this firmware while it exists.
void attach_processor();
void detach_processor();

// screen.cpp
void install_screen(SimFirmware::Impl& im);
void screen_set_mode(SimFirmware::Impl& im, uint64_t mode);
void sync_output_mode(SimFirmware::Impl& im);

// terminal.cpp: the firmware's cursor model while a serial terminal is attached.
void terminal_after_output(SimFirmware::Impl& im, const char16_t* text);

// keyboard.cpp
void install_keyboard(SimFirmware::Impl& im);
// Asks the live key source for keys (false when there is none or it has ended).
SimFirmware::KeySourceResult poll_key_source(SimFirmware::Impl& im, uint64_t max_wait_us);
void remove_keyboard(SimFirmware::Impl& im);
void set_extended_input(SimFirmware::Impl& im, bool present);
// The time of the next key that has not yet arrived (false when none).
bool next_key_arrival(const SimFirmware::Impl& im, uint64_t* at_us);
// Marks the next key as arrived and runs matching key notifications.
void arrive_next_key(SimFirmware::Impl& im);
void queue_key(SimFirmware::Impl& im, char16_t ch, uint16_t scan, uint32_t shift, uint64_t delay_us);

// handles.cpp: images and the protocol boot services.
void install_handle_services(SimFirmware::Impl& im);
void create_top_image(SimFirmware::Impl& im);
void unload_image(SimFirmware::Impl& im, efi::Handle image);

}  // namespace sim
