#include "h2mon/win32/scan_int64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

TEST(ScanInt64, ReadsSignedDecimal64BitNumbers) {
    const struct {
        const char* text;
        bool scanned;
        std::int64_t value;
    } cases[] = {
        {"12345678901", true, 12345678901},
        {"-9223372036854775808", true, std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775807", true, std::numeric_limits<std::int64_t>::max()},
        {"  +42 volts", true, 42},
        {"0x10", true, 0}, // decimal only
        {"volts", false, -1},
        {"", false, -1},
    };
    for (const auto& c : cases) {
        std::int64_t value = -1;
        EXPECT_EQ(scan_int64(c.text, &value), c.scanned) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

} // namespace
