// The text forms of the clock commands: dates, times of day and time-zone offsets as
// typed and shown, and the table of offsets with example places.
#pragma once
#include <stdint.h>

namespace tarn {

// The time-zone field's "no zone: the clock keeps local time".
constexpr int16_t kTimeZoneUnspecified = 0x7FF;

struct ClockDate {
    int64_t year, month, day;
};
struct ClockTimeOfDay {
    int64_t hour, minute, second;
};

enum class ClockParse : uint8_t { kOk, kSyntax, kOutOfRange };

// "YYYY-MM-DD", "MM/DD/YYYY" or "MM/DD/YY" (20YY); each part a shell number. kSyntax when
// the shape is wrong, kOutOfRange outside 1900-9999, 1-12, 1-31 (the firmware judges the
// days of the month).
ClockParse parse_clock_date(const char* text, ClockDate* date);
// "HH:MM" or "HH:MM:SS" within 0-23, 0-59, 0-59.
bool parse_clock_time(const char* text, ClockTimeOfDay* time);
// "[+|-]H[H][:MM]", at most 14:00; minutes east of UTC.
bool parse_zone_offset(const char* text, int16_t* minutes);
// "UTC+hh:mm" or "UTC-hh:mm" into out (at least 16 bytes).
void format_zone_offset(int64_t minutes, char* out);

struct TimeZoneRow {
    int16_t minutes;
    const char* places;
};
uint64_t time_zone_count();
const TimeZoneRow& time_zone_at(uint64_t index);

}  // namespace tarn
