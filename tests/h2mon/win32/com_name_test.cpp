#include "h2mon/win32/com_name.h"

#include <gtest/gtest.h>

namespace {

TEST(ComName, ReadsComAndItsDigitsAtTheStart) {
    struct Case {
        const char* text;
        std::size_t length; // 0: not a COM name
        std::int32_t number;
        bool plain;
    };
    const Case cases[] = {
        {"COM1", 4, 1, true},
        {"com7", 4, 7, true},
        {"cOm128", 6, 128, true},
        {"COM0", 4, 0, true},
        {"COM07", 5, 7, false},
        {"COM00", 5, 0, false},
        {"COM12abc", 5, 12, true},
        {"COM3:baud=9600", 4, 3, true},
        {"COM1 ", 4, 1, true},
        {"COM2147483647", 13, INT32_MAX, true},
        {"COM2147483648", 13, -1, true}, // beyond 31 bits: no number, still its length
        {"COM99999999999999999999", 23, -1, true},
        {"COM", 0, -1, false},
        {"COMX1", 0, -1, false},
        {"COM-1", 0, -1, false},
        {"COM +1", 0, -1, false},
        {"CO1", 0, -1, false},
        {"LPT1", 0, -1, false},
        {"ttyS0", 0, -1, false},
        {"\xC3\x87OM1", 0, -1, false},
        {"", 0, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ComName name = read_com_name(c.text);
        EXPECT_EQ(name.length, c.length);
        EXPECT_EQ(name.number, c.number);
        EXPECT_EQ(name.plain, c.plain);
    }
}

} // namespace
