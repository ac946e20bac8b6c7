#include "commands/files/clock_text.h"

#include "runtime/format.h"
#include "runtime/strings.h"
#include "runtime/util.h"

namespace tarn {

namespace {

constexpr TimeZoneRow kZones[] = {
    {-720, "Baker Island"},
    {-660, "Samoa"},
    {-600, "Hawaii"},
    {-540, "Alaska"},
    {-480, "Los Angeles, Vancouver"},
    {-420, "Denver, Phoenix"},
    {-360, "Chicago, Mexico City"},
    {-300, "New York, Toronto"},
    {-240, "Santiago, Halifax"},
    {-210, "Newfoundland"},
    {-180, "Buenos Aires, Sao Paulo"},
    {-120, "South Georgia"},
    {-60, "Azores"},
    {0, "London, Lisbon, UTC"},
    {60, "Rome, Paris, Berlin"},
    {120, "Athens, Cairo, Helsinki"},
    {180, "Moscow, Istanbul"},
    {210, "Tehran"},
    {240, "Dubai"},
    {270, "Kabul"},
    {300, "Karachi"},
    {330, "India"},
    {345, "Nepal"},
    {360, "Dhaka"},
    {420, "Bangkok, Jakarta"},
    {480, "Beijing, Singapore"},
    {540, "Tokyo, Seoul"},
    {570, "Adelaide"},
    {600, "Sydney"},
    {660, "Solomon Islands"},
    {720, "Auckland"},
    {780, "Tonga"},
    {840, "Kiribati"},
};

// Splits text at `separator` into exactly `parts` shell numbers (each part copied into a
// small buffer; a part longer than the buffer cannot be a number of ours anyway).
bool split_numbers(const char* text, char separator, int parts, int64_t* out) {
    int part = 0;
    const char* start = text;
    for (const char* p = text;; p++) {
        if (*p != separator && *p != '\0') continue;
        if (part == parts) return false;
        const uint64_t length = static_cast<uint64_t>(p - start);
        char buffer[32];
        if (length == 0 || length >= sizeof buffer) return false;
        memcpy(buffer, start, length);
        buffer[length] = '\0';
        if (!parse_integer_in_range(buffer, &out[part++])) return false;
        if (*p == '\0') break;
        start = p + 1;
    }
    return part == parts;
}

// Decimal digits only, at least one, at most `limit`.
bool read_decimal(const char* start, const char* end, int64_t limit, int64_t* out) {
    if (start == end) return false;
    int64_t n = 0;
    for (const char* p = start; p < end; p++) {
        if (!is_digit(static_cast<unsigned char>(*p))) return false;
        n = n * 10 + (*p - '0');
        if (n > limit) return false;
    }
    *out = n;
    return true;
}

}  // namespace

ClockParse parse_clock_date(const char* text, ClockDate* date) {
    const bool slashes = strchr(text, '/') != nullptr;
    int64_t n[3];
    if (!split_numbers(text, slashes ? '/' : '-', 3, n)) return ClockParse::kSyntax;
    if (slashes) {
        *date = ClockDate{n[2], n[0], n[1]};
        if (date->year >= 0 && date->year <= 99) date->year += 2000;
    } else {
        *date = ClockDate{n[0], n[1], n[2]};
    }
    if (date->year < 1900 || date->year > 9999 || date->month < 1 || date->month > 12 ||
        date->day < 1 || date->day > 31)
        return ClockParse::kOutOfRange;
    return ClockParse::kOk;
}

bool parse_clock_time(const char* text, ClockTimeOfDay* time) {
    int64_t n[3] = {0, 0, 0};
    if (!split_numbers(text, ':', 3, n)) {
        n[2] = 0;
        if (!split_numbers(text, ':', 2, n)) return false;
    }
    *time = ClockTimeOfDay{n[0], n[1], n[2]};
    return n[0] >= 0 && n[0] <= 23 && n[1] >= 0 && n[1] <= 59 && n[2] >= 0 && n[2] <= 59;
}

bool parse_zone_offset(const char* text, int16_t* minutes) {
    int sign = 1;
    if (*text == '+' || *text == '-') sign = *text++ == '-' ? -1 : 1;
    const char* colon = strchr(text, ':');
    const char* hours_end = colon ? colon : text + strlen(text);
    int64_t hours = 0, mins = 0;
    if (!read_decimal(text, hours_end, 14, &hours)) return false;
    if (colon && !read_decimal(colon + 1, colon + 1 + strlen(colon + 1), 59, &mins)) return false;
    if (hours == 14 && mins != 0) return false;
    *minutes = static_cast<int16_t>(sign * (hours * 60 + mins));
    return true;
}

void format_zone_offset(int64_t minutes, char* out) {
    const int64_t magnitude = minutes < 0 ? -minutes : minutes;
    format_into(out, 16, "UTC%c%02d:%02d", minutes < 0 ? '-' : '+', static_cast<int>(magnitude / 60),
                static_cast<int>(magnitude % 60));
}

uint64_t time_zone_count() { return array_size(kZones); }
const TimeZoneRow& time_zone_at(uint64_t index) { return kZones[index]; }

}  // namespace tarn
