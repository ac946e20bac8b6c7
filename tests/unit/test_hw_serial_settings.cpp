// The serial line words sermode reads and the names it prints.
#include <gtest/gtest.h>

#include "hw/serial_settings.h"

using namespace tarn;

namespace {

TEST(HwSerialSettings, Words) {
    struct Case {
        const char *baud, *parity, *data, *stop;
        bool ok;
        uint64_t want_baud;
        uint32_t want_parity;
        uint8_t want_data;
        uint32_t want_stop;
    } cases[] = {
        {"115200", "n", "8", "1", true, 115200, 1, 8, 1},
        {"9600", "even", "7", "2", true, 9600, 2, 7, 3},
        {"9600", "Odd", "5", "1.5", true, 9600, 3, 5, 2},
        {"9600", "m", "6", "15", true, 9600, 4, 6, 2},
        {"300", "space", "8", "0", true, 300, 5, 8, 0},
        {"0", "default", "8", "0", true, 0, 0, 8, 0},
        {"18446744073709551615", "D", "8", "1", true, ~0ull, 0, 8, 1},
        // Judged by the first letter only.
        {"9600", "nothing", "8", "1", true, 9600, 1, 8, 1},
        {"9600", "x", "8", "1", false},
        {"9600", "", "8", "1", false},
        {"9600", "n", "4", "1", false},
        {"9600", "n", "9", "1", false},
        {"9600", "n", "08x", "1", false},
        {"9600", "n", "8", "3", false},
        {"9600", "n", "8", "1.0", false},
        {"9600", "n", "8", "", false},
        {"0x2580", "n", "8", "1", false},
        {"-9600", "n", "8", "1", false},
        {"", "n", "8", "1", false},
        {"18446744073709551616", "n", "8", "1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.baud) + " " + c.parity + " " + c.data + " " + c.stop);
        SerialSettings s{1, 1, 1, 1};
        ASSERT_EQ(parse_serial_settings(c.baud, c.parity, c.data, c.stop, &s), c.ok);
        if (!c.ok) {
            EXPECT_EQ(s.baud, 1u);  // untouched
            continue;
        }
        EXPECT_EQ(s.baud, c.want_baud);
        EXPECT_EQ(s.parity, c.want_parity);
        EXPECT_EQ(s.data_bits, c.want_data);
        EXPECT_EQ(s.stop_bits, c.want_stop);
    }
}

TEST(HwSerialSettings, Names) {
    const char* parity[] = {"default", "none", "even", "odd", "mark", "space", "unknown", "unknown"};
    for (uint32_t i = 0; i < 8; i++) EXPECT_STREQ(serial_parity_name(i), parity[i]) << i;
    const char* stop[] = {"default", "1", "1.5", "2", "unknown"};
    for (uint32_t i = 0; i < 5; i++) EXPECT_STREQ(serial_stop_bits_name(i), stop[i]) << i;
    EXPECT_STREQ(serial_parity_name(0xffffffffu), "unknown");
}

}  // namespace
