#include "h2mon/win32/posix/port_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PortNames, ComNamesMapToDeviceFamilies) {
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
        ASSERT_TRUE(com_name_to_tty(c.com, tty, sizeof tty)) << c.com;
        EXPECT_STREQ(tty, c.tty);
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
}

TEST(PortNames, ResultThatDoesNotFitIsRefused) {
    char small[5] = {};
    EXPECT_FALSE(com_name_to_tty("COM33", small, sizeof small)); // "ttyUSB0" needs 8 bytes
}

} // namespace
