// The program's settings are a store at namespace scope whose options are
// registered during static initialisation, before main runs, exactly as h2mon
// declares them.
#include "h2mon/settings.h"

#include <gtest/gtest.h>

namespace {

KVSTORE<KVAL> store;
Settings settings;
const bool registered = register_settings(store, settings);

TEST(StaticRegistration, OptionsRegisteredBeforeMainHoldTheirInitialValues) {
    ASSERT_TRUE(registered);
    const struct {
        const char* name;
        const char* value;
    } options[] = {{"port", ""},     {"baud", "9600"}, {"interval_ms", "10000"},
                   {"tty", "False"}, {"fmt", "CSV"},   {"out", ""}};
    ASSERT_EQ(store.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const KVAL* entry = store.at(i);
        ASSERT_NE(entry, nullptr) << options[i].name;
        EXPECT_STREQ(entry->pszName, options[i].name);
        EXPECT_STREQ(entry->value(), options[i].value);
        EXPECT_EQ(store.find(options[i].name), entry);
    }
    EXPECT_STREQ(store.szLastError, "");

    // The arguments as main receives them.
    char program[] = "h2mon";
    char port_option[] = "/port=COM7";
    char baud_option[] = "/baud=115200";
    char* argv[] = {program, port_option, baud_option, nullptr};
    EXPECT_TRUE(store.parse(3, argv, "usage", 0, 0, false));
    EXPECT_STREQ(settings.port, "COM7");
    EXPECT_EQ(settings.baud, 115200);
}

} // namespace
