#include "h2mon/win32/posix/port_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PortNames, ComNamesMapToDeviceFamiliesAndBack) {
    struct Case {
        const char* com;
        const char* tty;
    };
    const Case cases[] = {
        {"COM1", "ttyS0"},    {"COM32", "ttyS31"},   {"COM33", "ttyUSB0"}, {"COM64", "ttyUSB31"},
        {"COM65", "ttyACM0"}, {"COM96", "ttyACM31"}, {"COM97", "ttyAMA0"}, {"COM128", "ttyAMA31"},
    };
    for (const Case& c : cases) {
        char tty[32] = {};
        char com[32] = {};
        ASSERT_TRUE(com_name_to_tty(c.com, tty, sizeof tty)) << c.com;
        EXPECT_STREQ(tty, c.tty);
        ASSERT_TRUE(tty_to_com_name(c.tty, com, sizeof com)) << c.tty;
        EXPECT_STREQ(com, c.com);
    }
}

TEST(PortNames, ComPrefixIgnoresCase) {
    char tty[32] = {};
    ASSERT_TRUE(com_name_to_tty("com34", tty, sizeof tty));
    EXPECT_STREQ(tty, "ttyUSB1");
}

TEST(PortNames, NamesOutsideTheMappingAreRefused) {
    char out[32] = {};
    for (const char* com :
         {"COM0", "COM129", "COM01", "COM", "COM3x", "COM-1", "LPT1", "ttyS0", ""}) {
        EXPECT_FALSE(com_name_to_tty(com, out, sizeof out)) << com;
    }
    for (const char* tty :
         {"ttyS32", "ttyS01", "ttyUSB", "ttyXR0", "rfcomm0", "ttyUSB0x", "tty0"}) {
        EXPECT_FALSE(tty_to_com_name(tty, out, sizeof out)) << tty;
    }
}

TEST(PortNames, ResultThatDoesNotFitIsRefused) {
    char small[5] = {};
    EXPECT_FALSE(com_name_to_tty("COM33", small, sizeof small));   // "ttyUSB0" needs 8 bytes
    EXPECT_FALSE(tty_to_com_name("ttyUSB0", small, sizeof small)); // "COM33" needs 6 bytes
}

} // namespace
