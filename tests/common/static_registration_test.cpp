// The program's settings are a store at namespace scope whose options are
// registered during static initialisation, before main runs.
#include "common/stdtpl.h"

#include <gtest/gtest.h>

namespace {

KVSTORE<KVAL> settings;

char port[1024];
int baud = 9600;
int interval_ms = 10000;
bool tty = false;
char fmt[1024] = "CSV";
char out[1024];

KVAL* const registered[] = {
    settings.addstr("port", port, NULL, 0, KVF_REQUIRED),
    settings.addnum("baud", &baud, NULL, 0, 0),
    settings.addnum("interval_ms", &interval_ms, NULL, 0, 0),
    settings.addbool("tty", &tty, NULL, 0, 0),
    settings.addstr("fmt", fmt, NULL, 0, 0),
    settings.addstr("out", out, NULL, 0, 0),
};

TEST(StaticRegistration, OptionsRegisteredBeforeMainHoldTheirInitialValues) {
    const char* const names[] = {"port", "baud", "interval_ms", "tty", "fmt", "out"};
    const char* const values[] = {"", "9600", "10000", "False", "CSV", ""};
    ASSERT_EQ(settings.size(), 6);
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(registered[i], nullptr) << names[i];
        EXPECT_EQ(settings.at(i), registered[i]);
        EXPECT_STREQ(registered[i]->pszName, names[i]);
        EXPECT_STREQ(registered[i]->value(), values[i]);
    }
    EXPECT_STREQ(settings.szLastError, "");

    // The arguments as main receives them.
    char program[] = "h2mon";
    char port_option[] = "/port=COM7";
    char baud_option[] = "/baud=115200";
    char* argv[] = {program, port_option, baud_option, nullptr};
    EXPECT_TRUE(settings.parse(3, argv, "usage", 0, 0, false));
    EXPECT_STREQ(port, "COM7");
    EXPECT_EQ(baud, 115200);
}

} // namespace
