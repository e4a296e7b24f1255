#include "h2mon/common/stdtpl.h"
#include "tests/h2mon/common/capture.h"
#include "tests/h2mon/common/failing_allocation.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Usage : public testing::Test {
protected:
    Usage() {
        store.addstr("fmt", nullptr, "CSV", 0, 0);
        store.addnum("baud", nullptr, "9600", 0, 0);
        store.addstr(std::string(255, 'n').c_str(), nullptr, "long", 0, 0);
    }
    std::string printed(const char* text, bool leadingnewline = false) {
        return stdout_of([&] { store.usage(text, leadingnewline); });
    }
    KVSTORE<KVAL> store;
};

TEST_F(Usage, DollarTakesTheValueOfTheOptionNamedEarlierOnItsLine) {
    const std::string overlong_marker = "/" + std::string(300, 'n') + " $";
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"no dollar here /fmt", "no dollar here /fmt"},
        {"  /fmt:<CSV|HEX>  Default: $", "  /fmt:<CSV|HEX>  Default: CSV"},
        {"-baud=$ and /FMT $", "-baud=9600 and /FMT CSV"}, // a new capture after each $
        {"/fmt $ $", "/fmt CSV $"},                        // the name is used up
        {"/fmt /baud $", "/fmt /baud CSV"},                // the first marker names it
        {"/fmt\n$", "/fmt\n$"},                            // a line feed forgets it
        {"Costs $5", "Costs $5"},                          // no marker on the line
        {"$ /fmt $", "$ /fmt CSV"},
        {"/unknown $.", "/unknown ."},                 // the $ of an unknown option is dropped
        {"a well-known /fmt $", "a well-known /fmt "}, // "-known" captured first
        {"/ $", "/ $"},                                // an empty name captures nothing
        {"/fmt:$\n-baud:$\n", "/fmt:CSV\n-baud:9600"}, // trailing line feeds trimmed
        {overlong_marker, "/" + std::string(300, 'n') + " long"}, // 255 characters captured
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string expected = c.shown;
        while (!expected.empty() && expected.back() == ' ') {
            expected.pop_back();
        }
        EXPECT_EQ(printed(c.text.c_str()), expected + "\n");
    }
}

TEST_F(Usage, ShowsCurrentValuesAndOptionallyLeadsWithAnEmptyLine) {
    KVAL* fmt = store.find("fmt");
    store.update(fmt, "JSON", nullptr);
    EXPECT_EQ(printed("/fmt $", true), "\n/fmt JSON\n");
    fmt->nType = KVT_OBJECT; // the value text is shown whatever the type
    EXPECT_EQ(printed("/fmt $"), "/fmt JSON\n");
    EXPECT_EQ(printed(nullptr, true), "");
    EXPECT_STREQ(store.szLastError, ""); // the usage text is not an error
}

TEST_F(Usage, EntryLeftWithoutAValueShowsAnEmptyValue) {
    {
        FailingAllocation failure(3); // the value text of the new entry
        stdout_of([&] { store.addstr("out", nullptr, "x.csv", 0, 0); });
    }
    ASSERT_NE(store.find("out"), nullptr);
    EXPECT_EQ(printed("/out [$]"), "/out []\n");
}

std::string expand(const char* text, std::size_t size) {
    std::string out(size, '#');
    expand_usage(
        text, [](const void*, const char*) -> const char* { return "0123456789"; }, nullptr,
        &out[0], size);
    return out.c_str();
}

TEST(ExpandUsage, OutputStopsAtItsBufferWithAPartialValue) {
    EXPECT_EQ(expand("/x $ tail", 100), "/x 0123456789 tail");
    EXPECT_EQ(expand("/x $ tail", 8), "/x 0123");
    EXPECT_EQ(expand("/x tail", 5), "/x t");
    const std::string big(9000, 'b');
    EXPECT_EQ(expand((big + " /x $").c_str(), kCmdlineListSize).size(), kCmdlineListSize - 1);
}

} // namespace
