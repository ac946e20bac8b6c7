// date, time, timezone, getmtc and stall: the firmware's real-time clock and counters.
#include "commands/files/clock_text.h"
#include "commands/files/file_commands.h"
#include "runtime/clock.h"
#include "runtime/errors.h"
#include "runtime/format.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {

int date_command(int count, char** vector);
int time_command(int count, char** vector);
int timezone_command(int count, char** vector);
int getmtc_command(int count, char** vector);
int stall_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"date", date_command, "date [YYYY-MM-DD | MM/DD/YYYY | MM/DD/YY]",
     "Show or set the date of the real-time clock",
     "  A two-digit year means 20YY. The time of day, time zone and daylight fields are\n"
     "  kept. -data gives one record.\n",
     kCommandStructuredOutput},
    {"time", time_command, "time [HH:MM[:SS]]", "Show or set the time of the real-time clock",
     "  Seconds are 0 when left out. The date, time zone and daylight fields are kept.\n"
     "  -data gives one record.\n",
     kCommandStructuredOutput},
    {"timezone", timezone_command, "timezone [-s [+|-]hh:mm] [-l] [-f]",
     "Show or set the time zone of the real-time clock",
     "  -s OFFSET  store the offset from UTC (at most 14 hours)\n"
     "  -l         list the offsets with example places\n"
     "  -f         also show the raw field and the daylight bits\n",
     0},
    {"getmtc", getmtc_command, "getmtc", "Show the firmware's next monotonic count", nullptr, 0},
    {"stall", stall_command, "stall MICROSECONDS", "Busy-wait in the firmware (not interruptible)",
     nullptr, 0},
};

// Reads the clock; reports under `command` with `what` ("cannot read the real time clock"
// or the status text) and returns false when the firmware refuses.
bool read_clock(const char* command, efi::Time* time, bool with_status) {
    const efi::Status status = clock_get_time(time);
    if (!efi::is_error(status)) return true;
    if (with_status) report_error(command, "cannot read the clock: %s", status_message(status));
    else report_error(command, "cannot read the real time clock");
    return false;
}

// Writes the time back with nanoseconds 0; reports "cannot set the X: status".
int write_clock(const char* command, const char* what, efi::Time* time) {
    time->nanosecond = 0;
    const efi::Status status = clock_set_time(time);
    if (efi::is_error(status))
        return report_error(command, "cannot set the %s: %s", what, status_message(status));
    return kExitSuccess;
}

// Shows three clock fields: "A-B-C" style text, or with -data a record of that text (under
// `key`) and the three numbers under their names.
void show_fields(const char* key, const char* format, const char* const (&names)[3], int a, int b,
                 int c) {
    char text[24];
    format_into(text, sizeof text, format, a, b, c);
    if (!data_mode()) {
        out_printf("%s\n", text);
        return;
    }
    record_begin();
    record_field(key, "%s", text);
    const int values[3] = {a, b, c};
    for (int i = 0; i < 3; i++) record_field(names[i], "%d", values[i]);
}

}  // namespace

int date_command(int count, char** vector) {
    const char* name = "date";
    if (count > 2) return report_usage(name);
    efi::Time now{};
    if (!read_clock(name, &now, false)) return kExitFailure;
    if (count == 1) {
        show_fields("date", "%04d-%02d-%02d", {"year", "month", "day"}, now.year, now.month, now.day);
        return kExitSuccess;
    }
    ClockDate date{};
    switch (parse_clock_date(vector[1], &date)) {
        case ClockParse::kSyntax: return report_usage(name);
        case ClockParse::kOutOfRange: return report_error(name, "invalid date");
        case ClockParse::kOk: break;
    }
    now.year = static_cast<uint16_t>(date.year);
    now.month = static_cast<uint8_t>(date.month);
    now.day = static_cast<uint8_t>(date.day);
    return write_clock(name, "date", &now);
}

int time_command(int count, char** vector) {
    const char* name = "time";
    if (count > 2) return report_usage(name);
    efi::Time now{};
    if (!read_clock(name, &now, false)) return kExitFailure;
    if (count == 1) {
        show_fields("time", "%02d:%02d:%02d", {"hour", "minute", "second"}, now.hour, now.minute, now.second);
        return kExitSuccess;
    }
    ClockTimeOfDay t{};
    if (!parse_clock_time(vector[1], &t)) return report_usage(name);
    now.hour = static_cast<uint8_t>(t.hour);
    now.minute = static_cast<uint8_t>(t.minute);
    now.second = static_cast<uint8_t>(t.second);
    return write_clock(name, "time", &now);
}

namespace {

struct ZoneOptions {
    const char* set = nullptr;
    bool list = false;
    bool fields = false;
};

constexpr Option<ZoneOptions> kZoneOptions[] = {
    value_option("s", &ZoneOptions::set),
    switch_option("l", &ZoneOptions::list),
    switch_option("f", &ZoneOptions::fields),
    ignored_option<ZoneOptions>("b"),
};

void print_zone_table() {
    for (uint64_t i = 0; i < time_zone_count(); i++) {
        const TimeZoneRow& row = time_zone_at(i);
        char text[16];
        format_zone_offset(row.minutes, text);
        out_printf("%s  %s\n", text, row.places);
    }
}

void print_zone(const efi::Time& now, bool fields) {
    if (now.time_zone == kTimeZoneUnspecified) {
        out_text("Time zone not specified: the clock keeps local time\n");
    } else {
        char text[16];
        format_zone_offset(now.time_zone, text);
        out_text(text);
        for (uint64_t i = 0; i < time_zone_count(); i++)
            if (time_zone_at(i).minutes == now.time_zone) out_printf("  (%s)", time_zone_at(i).places);
        out_text("\n");
    }
    if (fields)
        out_printf("TimeZone field: %d, daylight: adjust %s, in daylight %s\n", now.time_zone,
                   (now.daylight & 1) ? "yes" : "no", (now.daylight & 2) ? "yes" : "no");
}

}  // namespace

int timezone_command(int count, char** vector) {
    const char* name = "timezone";
    ZoneOptions o;
    const int first = parse_options(count, vector, kZoneOptions, kOptionsNameWord, &o);
    if (first < 0) return kExitUsage;
    if (first != count) return report_usage(name);
    if (o.list) {
        print_zone_table();
        return kExitSuccess;
    }
    efi::Time now{};
    if (!read_clock(name, &now, true)) return kExitFailure;
    if (o.set) {
        int16_t minutes = 0;
        if (!parse_zone_offset(o.set, &minutes))
            return report_error(name, "use -s [+|-]hh:mm, for example -s +01:00");
        now.time_zone = minutes;
        if (write_clock(name, "time zone", &now) != kExitSuccess) return kExitFailure;
    }
    print_zone(now, o.fields);
    return kExitSuccess;
}

int getmtc_command(int count, char** vector) {
    if (count != 1) return report_usage(vector[0]);
    uint64_t value = 0;
    const efi::Status status = clock_monotonic_count(&value);
    if (efi::is_error(status)) return report_error("getmtc", "%s", status_message(status));
    out_printf("%llx\n", static_cast<unsigned long long>(value));
    return kExitSuccess;
}

int stall_command(int count, char** vector) {
    int64_t microseconds = 0;
    if (count != 2 || !parse_integer_in_range(vector[1], &microseconds) || microseconds < 0)
        return report_usage(vector[0]);
    clock_stall(static_cast<uint64_t>(microseconds));
    return kExitSuccess;
}

void register_clock_commands() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
