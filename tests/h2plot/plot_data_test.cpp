#include "h2plot/plot_data.h"

#include "telemetry/channels.h"
#include "tests/support/log_rows.h"

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr MicroDay kDay = 61384000000; // 2026-12-10, midnight

struct Record {
    MicroDay offset; // microdays after kDay
    const char* ion_ua;
};

const int kIon = channel_row_named("Ion_uA");

PlotData plot_of(const std::vector<Record>& records, std::optional<MicroDay> from = std::nullopt,
                 std::optional<MicroDay> to = std::nullopt, int fine_bins = 4096) {
    PlotData data({kIon}, from, to, fine_bins);
    for (const Record& r : records) {
        const std::string line = h2test::log_row(kDay + r.offset, {{"Ion_uA", r.ion_ua}});
        LogRow row;
        EXPECT_EQ(row.parse(line), LogLine::kRow);
        EXPECT_TRUE(data.add(row));
    }
    return data;
}

struct Expected {
    std::uint64_t count;
    double min, mean, max;
    bool gap_after;
};

void expect_columns(const std::vector<Summary>& columns, const std::vector<Expected>& expected) {
    ASSERT_EQ(columns.size(), expected.size());
    for (std::size_t c = 0; c < expected.size(); ++c) {
        EXPECT_EQ(columns[c].count, expected[c].count) << "column " << c;
        if (expected[c].count > 0) {
            EXPECT_DOUBLE_EQ(columns[c].min, expected[c].min) << "column " << c;
            EXPECT_DOUBLE_EQ(columns[c].mean(), expected[c].mean) << "column " << c;
            EXPECT_DOUBLE_EQ(columns[c].max, expected[c].max) << "column " << c;
        }
        EXPECT_EQ(columns[c].gap_after, expected[c].gap_after) << "column " << c;
    }
}

// Eight records 100 microdays apart over four columns: (t - lo) * 4 / 700 puts
// two records in each column, the last record (t = hi) in the last column.
TEST(PlotData, EachColumnHasTheEnvelopeAndMeanOfItsRecords) {
    const PlotData data = plot_of({{0, "1.000"},
                                   {100, "5.000"},
                                   {200, "2.000"},
                                   {300, "2.000"},
                                   {400, "3.000"},
                                   {500, "9.000"},
                                   {600, "4.000"},
                                   {700, "0.000"}});
    const PlotModel model = data.model(4);
    EXPECT_EQ(model.lo, kDay);
    EXPECT_EQ(model.hi, kDay + 700);
    EXPECT_EQ(model.interval, 100);
    ASSERT_EQ(model.channels.size(), 1u);
    const ChannelPlot& ion = model.channels[0];
    expect_columns(
        ion.columns,
        {{2, 1, 3, 5, false}, {2, 2, 2, 2, false}, {2, 3, 6, 9, false}, {2, 0, 2, 4, false}});
    EXPECT_EQ(ion.overall.count, 8u);
    EXPECT_DOUBLE_EQ(ion.overall.min, 0);
    EXPECT_DOUBLE_EQ(ion.overall.max, 9);
    EXPECT_DOUBLE_EQ(ion.overall.mean(), 26.0 / 8);
    EXPECT_EQ(ion.gaps.count, 0u);
}

// A silence of seven intervals is a gap, flagged in the column of the record
// before it; the columns it spans stay empty. A silence of five intervals is
// not (a record or two lost).
TEST(PlotData, GapsAreSilencesOfMoreThanFiveIntervals) {
    const PlotData data = plot_of({{0, "1.000"},
                                   {100, "1.000"},
                                   {200, "1.000"},
                                   {300, "2.000"},
                                   {1000, "3.000"},
                                   {1100, "3.000"},
                                   {1200, "3.000"},
                                   {1700, "4.000"}});
    const PlotModel model = data.model(4);
    // Columns of 425 microdays: 0..300 in the first, 1000..1200 in the third.
    expect_columns(
        model.channels[0].columns,
        {{4, 1, 1.25, 2, true}, {0, 0, 0, 0, false}, {3, 3, 3, 3, false}, {1, 4, 4, 4, false}});
    const GapStats& gaps = model.channels[0].gaps;
    EXPECT_EQ(gaps.count, 1u);
    EXPECT_EQ(gaps.total, 700);
    EXPECT_EQ(gaps.longest, 700);
}

TEST(PlotData, TheRangeGivenLeavesOutRecordsAndSetsTheAxis) {
    const PlotData data = plot_of({{0, "7.000"}, {100, "1.000"}, {200, "2.000"}, {300, "7.000"}},
                                  kDay + 50, kDay + 250);
    const PlotModel model = data.model(2);
    EXPECT_EQ(model.lo, kDay + 50);
    EXPECT_EQ(model.hi, kDay + 250);
    expect_columns(model.channels[0].columns, {{1, 1, 1, 1, false}, {1, 2, 2, 2, false}});
    EXPECT_TRUE(plot_of({{0, "1.000"}}, kDay + 1).empty());
}

// Out of order (a clock set back) and many more records than bins: the bins
// are merged many times over, yet every record is counted once, the extremes
// survive, and a one-record spike lands in its own column or a neighbour.
TEST(PlotData, MergingBinsKeepsEveryRecordAndTheSpike) {
    std::mt19937 random(3);
    std::vector<Record> records;
    std::vector<std::string> values;
    const int count = 5000;
    values.reserve(count);
    for (int i = 0; i < count; ++i) {
        values.push_back(std::to_string(1 + static_cast<int>(random() % 100) / 100.0).substr(0, 5));
    }
    values[3210] = "99.000";
    values[77] = "-5.000";
    for (int i = 0; i < count; ++i) {
        // The second half comes first, as from files given the wrong way round.
        const int at = (i + count / 2) % count;
        records.push_back(
            {static_cast<MicroDay>(at) * 116, values[static_cast<std::size_t>(at)].c_str()});
    }
    const PlotModel model = plot_of(records, std::nullopt, std::nullopt, 80).model(10);
    const std::vector<Summary>& columns = model.channels[0].columns;
    std::uint64_t total = 0;
    double lowest = 1e9, highest = -1e9;
    for (const Summary& c : columns) {
        total += c.count;
        lowest = c.count > 0 ? std::min(lowest, c.min) : lowest;
        highest = c.count > 0 ? std::max(highest, c.max) : highest;
    }
    EXPECT_EQ(total, static_cast<std::uint64_t>(count));
    EXPECT_EQ(lowest, -5);
    EXPECT_EQ(highest, 99);
    const int spike_column = 3210 * 10 / (count - 1);
    bool near = false;
    for (int c = std::max(0, spike_column - 1); c <= std::min(9, spike_column + 1); ++c) {
        near = near || columns[static_cast<std::size_t>(c)].max == 99;
    }
    EXPECT_TRUE(near) << "spike not in column " << spike_column << " or beside it";
}

TEST(PlotData, AFieldThatIsNoNumberLeavesTheOtherChannels) {
    PlotData data({kIon, channel_row_named("CCoarse")}, std::nullopt, std::nullopt, 16);
    const std::string line = h2test::log_row(kDay, {{"Ion_uA", "x.y"}, {"CCoarse", "0802"}});
    LogRow row; // its fields refer into the line
    ASSERT_EQ(row.parse(line), LogLine::kRow);
    EXPECT_FALSE(data.add(row));
    const PlotModel model = data.model(1);
    EXPECT_EQ(model.channels[0].overall.count, 0u);
    EXPECT_EQ(model.channels[1].overall.count, 1u);
    EXPECT_EQ(model.channels[1].overall.max, 0x0802);
}

} // namespace
