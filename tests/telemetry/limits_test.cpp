// The limits table: the shipped defaults, the file format an operator edits,
// its errors, and the order in which a station's and a maser's files override.
#include "telemetry/limits.h"

#include "telemetry/channels.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

TEST(Limits, TheShippedTableReadsCleanAndGivesEveryMeasurementItsBands) {
    LimitTable table;
    std::vector<std::string> errors;
    table.read(default_limits_text(), "limits.conf", errors);
    EXPECT_TRUE(errors.empty()) << errors.front();
    for (int row = 1; row < kChannelCount; ++row) {
        const ChannelLimits& limits = table.of(row);
        const char* name = kChannels[row].name;
        switch (channel_kind(kChannels[row])) {
        case ChannelKind::kMeasurement:
            EXPECT_TRUE(limits.normal.closed()) << name;
            EXPECT_TRUE(limits.alarm.set) << name;
            EXPECT_FALSE(limits.from.empty()) << name;
            break;
        case ChannelKind::kCode:
        case ChannelKind::kReserved:
            EXPECT_FALSE(limits.normal.set || limits.alarm.set) << name;
            break;
        }
    }
    // Today's alert thresholds, as the table holds them.
    const ChannelLimits& ion = table.of(channel_row_named("Ion_uA"));
    EXPECT_EQ(ion.alarm.high, 80);
    EXPECT_FALSE(std::isfinite(ion.alarm.low));
    EXPECT_EQ(table.of(channel_row_named("p3p3_V")).alarm.low, 3.135);
    EXPECT_EQ(table.of(channel_row_named("CCoarse")).step, 1);
    EXPECT_EQ(LimitTable::defaults().of(channel_row_named("H2_atm")).alarm.low, 0.15);
}

TEST(Limits, LinesGiveRangesOpenEndsStepsAndComments) {
    LimitTable table;
    std::vector<std::string> errors;
    table.read("# a comment\n"
               "\n"
               "  ion_ua   10..50   ..80   -   # any case, a comment after\n"
               "p15_V\t14.7..15.3\t14.25..15.75\t0.15\r\n"
               "n15_V -15.3..-14.7 -15.75.. 0.1\n"
               "CFine - - 256\n",
               "east.limits", errors);
    ASSERT_TRUE(errors.empty()) << errors.front();
    const ChannelLimits& ion = table.of(channel_row_named("Ion_uA"));
    EXPECT_EQ(ion.normal.low, 10);
    EXPECT_EQ(ion.normal.high, 50);
    EXPECT_TRUE(ion.alarm.holds(-1e9));
    EXPECT_FALSE(ion.alarm.holds(80.001));
    EXPECT_EQ(ion.step, 0);
    EXPECT_EQ(ion.from, "east.limits:3");
    const ChannelLimits& n15 = table.of(channel_row_named("n15_V"));
    EXPECT_EQ(n15.alarm.low, -15.75);
    EXPECT_TRUE(n15.alarm.holds(1e9));
    EXPECT_EQ(range_text(n15.alarm), "-15.75..");
    EXPECT_EQ(range_text(ion.alarm), "..80");
    EXPECT_EQ(table.of(channel_row_named("p15_V")).step, 0.15);
    EXPECT_EQ(table.of(channel_row_named("CFine")).step, 256);
    EXPECT_FALSE(table.of(channel_row_named("Batt_V")).normal.set); // no line, no limits
}

TEST(Limits, ABadLineIsNamedByFileAndLineAndLeavesTheOthers) {
    const struct {
        const char* line;
        const char* error;
    } cases[] = {
        {"Ion_mA 10..50 ..80 -", "no channel is named \"Ion_mA\""},
        {"Rsvd2 - - 1", "Rsvd2 is a reserved field"},
        {"AuxFLL3 - - 1", "AuxFLL3 is a code too wide"},
        {"CCoarse 1..2 - 1", "CCoarse is a code of the FLL system: it has no normal band"},
        {"p15_V 14.7..15.3 14.25..15.75", "expected four columns"},
        {"p15_V 14.7-15.3 14.25..15.75 -", "\"14.7-15.3\" is no range"},
        {"p15_V .. 14.25..15.75 -", "\"..\" is no range"},
        {"p15_V 14.7..1e2 14.25..15.75 -", "its ends must be decimal numbers"},
        {"p15_V 15.3..14.7 14.25..15.75 -", "the range 15.3..14.7 ends below its start"},
        {"p15_V 14..15.3 14.25..15.75 -", "the normal band 14..15.3 reaches beyond the alarm"},
        {"p15_V 14.7..15.3 14.25..15.75 0", "\"0\" is no step"},
    };
    for (const auto& c : cases) {
        LimitTable table;
        std::vector<std::string> errors;
        table.read(std::string("Ion_uA 10..50 ..80 -\n") + c.line + "\nHFO_A 0.1..0.2 - -\n",
                   "/etc/h2mon/east.limits", errors);
        ASSERT_EQ(errors.size(), 1u) << c.line;
        EXPECT_EQ(errors[0].rfind("/etc/h2mon/east.limits:2: ", 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
        EXPECT_TRUE(table.of(channel_row_named("Ion_uA")).normal.set) << c.line;
        EXPECT_TRUE(table.of(channel_row_named("HFO_A")).normal.set) << c.line;
    }
    LimitTable twice;
    std::vector<std::string> errors;
    twice.read("HFO_A 0.1..0.2 - -\nHFO_A 0.1..0.3 - -\n", "x", errors);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "x:2: HFO_A is given again (first on line 1)");
    EXPECT_EQ(twice.of(channel_row_named("HFO_A")).normal.high, 0.2);
}

// A maser's own file wins over the station's, which wins over the shipped
// table, channel by channel; a file that is missing is no error.
TEST(Limits, AMasersFileOverridesTheStationsWhichOverridesTheDefaults) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("h2-limits-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "limits.conf") << "Ion_uA 10..40 ..70 -\nH2_atm 0.25..0.4 0.2..0.45 -\n";
    std::ofstream(dir / "east.limits") << "Ion_uA 10..60 ..90 -\nbad line\n";
    std::vector<std::string> errors;
    const LimitTable east = maser_limits(dir.string(), "east", errors);
    const LimitTable west = maser_limits(dir.string(), "west", errors);
    const LimitTable nowhere = maser_limits((dir / "none").string(), "east", errors);
    std::filesystem::remove_all(dir);

    const int ion = channel_row_named("Ion_uA"), h2 = channel_row_named("H2_atm");
    EXPECT_EQ(east.of(ion).alarm.high, 90);
    EXPECT_EQ(east.of(h2).alarm.low, 0.2);
    EXPECT_EQ(west.of(ion).alarm.high, 70);
    EXPECT_EQ(nowhere.of(ion).alarm.high, 80);
    EXPECT_EQ(east.of(channel_row_named("p5_V")).alarm.low, 4.75);
    EXPECT_EQ(east.of(ion).from, (dir / "east.limits").string() + ":1");
    ASSERT_EQ(errors.size(), 1u); // the bad line, read once for east
    EXPECT_EQ(errors[0].rfind((dir / "east.limits").string() + ":2: ", 0), 0u) << errors[0];
}

} // namespace
