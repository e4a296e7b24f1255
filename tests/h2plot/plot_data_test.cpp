#include "h2plot/plot_data.h"

#include "telemetry/channels.h"
#include "tests/support/log_rows.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
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

// The model with default value axes, which these tests do not look at.
PlotModel model_of(const PlotData& data, int columns) {
    return data.model(columns, std::vector<ValueAxis>(data.channels()));
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
    const PlotModel model = model_of(data, 4);
    EXPECT_EQ(model.time.lo, kDay);
    EXPECT_EQ(model.time.hi, kDay + 700);
    EXPECT_EQ(model.intervals.usual, 100);
    ASSERT_EQ(model.channels.size(), 1u);
    const ChannelPlot& ion = model.channels[0];
    expect_columns(
        ion.columns,
        {{2, 1, 3, 5, false}, {2, 2, 2, 2, false}, {2, 3, 6, 9, false}, {2, 0, 2, 4, false}});
    EXPECT_EQ(ion.overall.count, 8u);
    EXPECT_DOUBLE_EQ(ion.overall.min, 0);
    EXPECT_DOUBLE_EQ(ion.overall.max, 9);
    EXPECT_DOUBLE_EQ(ion.overall.mean(), 26.0 / 8);
    EXPECT_EQ(model.gaps.count, 0u);
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
    const PlotModel model = model_of(data, 4);
    // Columns of 425 microdays: 0..300 in the first, 1000..1200 in the third.
    expect_columns(
        model.channels[0].columns,
        {{4, 1, 1.25, 2, true}, {0, 0, 0, 0, false}, {3, 3, 3, 3, false}, {1, 4, 4, 4, false}});
    const GapStats& gaps = model.gaps;
    EXPECT_EQ(gaps.count, 1u);
    EXPECT_EQ(gaps.total, 700);
    EXPECT_EQ(gaps.longest, 700);
}

TEST(PlotData, TheRangeGivenLeavesOutRecordsAndSetsTheAxis) {
    const PlotData data = plot_of({{0, "7.000"}, {100, "1.000"}, {200, "2.000"}, {300, "7.000"}},
                                  kDay + 50, kDay + 250);
    const PlotModel model = model_of(data, 2);
    EXPECT_EQ(model.time.lo, kDay + 50);
    EXPECT_EQ(model.time.hi, kDay + 250);
    expect_columns(model.channels[0].columns, {{1, 1, 1, 1, false}, {1, 2, 2, 2, false}});
    EXPECT_TRUE(plot_of({{0, "1.000"}}, kDay + 1).empty());
}

// A column's start as the CSV of the columns stamps it is where the picture
// and the bins begin to put times in that column.
TEST(TimeColumns, EachColumnStartsWhereItsTimesBegin) {
    const TimeColumns axes[] = {
        {kDay, kDay + 700, 4},
        {kDay, kDay + 1000000, 1112},
        {kDay, kDay + 365 * 1000000LL, 20000},
        {kDay, kDay + 5, 8}, // columns narrower than a microday: some hold none
    };
    for (const TimeColumns& axis : axes) {
        EXPECT_EQ(axis.start_of(0), axis.lo);
        EXPECT_EQ(axis.column_of(axis.lo - 1), 0);
        EXPECT_EQ(axis.column_of(axis.hi), axis.count - 1);
        EXPECT_EQ(axis.column_of(axis.hi + 1), axis.count - 1);
        for (int c = 1; c < axis.count; ++c) {
            const MicroDay start = axis.start_of(c);
            ASSERT_LT(axis.column_of(start - 1), c) << c << " of " << axis.count;
            if (axis.hi - axis.lo >= axis.count) {
                ASSERT_EQ(axis.column_of(start), c) << c << " of " << axis.count;
            } else {
                ASSERT_GE(axis.column_of(start), c) << c << " of " << axis.count;
            }
        }
    }
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
    const PlotModel model = model_of(plot_of(records, std::nullopt, std::nullopt, 80), 10);
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
    const PlotModel model = model_of(data, 1);
    EXPECT_EQ(model.channels[0].overall.count, 0u);
    EXPECT_EQ(model.channels[1].overall.count, 1u);
    EXPECT_EQ(model.channels[1].overall.max, 0x0802);
}

// Times in seconds after kDay, as a log made at `step` seconds from `from` up
// to (not including) `to`.
void cadence(std::vector<MicroDay>& times, double from, double to, double step) {
    for (double s = from; s < to; s += step) {
        times.push_back(std::llround(s / 0.0864));
    }
}

// The gaps found in `times` (any order) over the range given, or the data's.
LogIntervals gaps_of(const std::vector<MicroDay>& times, std::optional<MicroDay> from,
                     std::optional<MicroDay> to, int columns = 1000) {
    std::vector<Record> records;
    for (MicroDay t : times) {
        records.push_back({t, "1.000"});
    }
    return model_of(plot_of(records, from, to, columns * 8), columns).intervals;
}

constexpr double kHour = 3600;

// A change of the logging interval is no gap, wherever the window; a real
// outage is one, whatever the interval was elsewhere.
TEST(PlotData, GapsFollowTheIntervalAroundThem) {
    const struct {
        const char* what;
        std::vector<std::array<double, 3>> stretches; // from, to, step in seconds
        std::vector<std::pair<double, double>> gaps;  // start, end in seconds
        MicroDay usual_seconds;
    } cases[] = {
        {"an hour at 1 s in a day at 10 s",
         {{0, 13 * kHour, 10}, {13 * kHour, 14 * kHour, 1}, {14 * kHour, 24 * kHour, 10}},
         {},
         10},
        {"an hour at 60 s, then 250 s lost at 10 s",
         {{0, 12 * kHour, 10},
          {12 * kHour, 13 * kHour, 60},
          {13 * kHour, 13 * kHour + 120, 10},
          {13 * kHour + 370, 24 * kHour, 10}},
         {{13 * kHour + 110, 13 * kHour + 370}},
         10},
        {"25 days at 10 s, 5 at 60 s",
         {{0, 25 * 24 * kHour, 10}, {25 * 24 * kHour, 30 * 24 * kHour, 60}},
         {},
         10},
    };
    for (const auto& c : cases) {
        std::vector<MicroDay> times;
        for (const auto& s : c.stretches) {
            cadence(times, s[0], s[1], s[2]);
        }
        // The whole span, and zoomed in on the afternoon.
        for (const auto& [from, columns] :
             {std::pair<std::optional<MicroDay>, int>{std::nullopt, 1000},
              {std::nullopt, 320},
              {std::optional<MicroDay>(kDay + 500000), 1000}}) {
            const LogIntervals found = gaps_of(times, from, std::nullopt, columns);
            ASSERT_EQ(found.gaps.size(), c.gaps.size()) << c.what << ", " << columns;
            for (std::size_t i = 0; i < c.gaps.size(); ++i) {
                EXPECT_EQ(found.gaps[i].start, kDay + std::llround(c.gaps[i].first / 0.0864));
                EXPECT_EQ(found.gaps[i].end, kDay + std::llround(c.gaps[i].second / 0.0864));
            }
            if (!from) {
                // Steps of 115 or 116 microdays: h2mon stamps to the microday.
                EXPECT_NEAR(found.usual, c.usual_seconds / 0.0864, 1) << c.what;
            }
        }
    }
}

// Silence at either end of the range asked for is a gap; a range with
// nothing in it is all gap.
TEST(PlotData, SilenceAtTheRangeEndsIsAGap) {
    std::vector<MicroDay> times;
    cadence(times, 10 * kHour, 14 * kHour, 10);
    const MicroDay ten = kDay + std::llround(10 * kHour / 0.0864);
    const MicroDay last = kDay + std::llround((14 * kHour - 10) / 0.0864);
    const LogIntervals wide = gaps_of(times, kDay, kDay + 1000000);
    ASSERT_EQ(wide.gaps.size(), 2u);
    EXPECT_EQ(wide.gaps[0].start, kDay);
    EXPECT_EQ(wide.gaps[0].end, ten);
    EXPECT_TRUE(wide.gaps[0].at_edge);
    EXPECT_EQ(wide.gaps[1].start, last);
    EXPECT_EQ(wide.gaps[1].end, kDay + 1000000);

    const LogIntervals none = gaps_of(times, kDay + 700000, kDay + 800000);
    ASSERT_EQ(none.gaps.size(), 1u);
    EXPECT_EQ(none.gaps[0].start, kDay + 700000);
    EXPECT_EQ(none.gaps[0].end, kDay + 800000);
}

// The same day shuffled has the same gaps: they come from where the rows
// fell, not from the order they came in.
TEST(PlotData, GapsDoNotDependOnTheOrderOfTheRows) {
    std::vector<MicroDay> times;
    cadence(times, 0, 10 * kHour, 10);
    cadence(times, 10 * kHour + 6900, 24 * kHour, 10);
    const LogIntervals ordered = gaps_of(times, std::nullopt, std::nullopt);
    std::shuffle(times.begin(), times.end(), std::mt19937(5));
    const LogIntervals shuffled = gaps_of(times, std::nullopt, std::nullopt);
    ASSERT_EQ(ordered.gaps.size(), 1u);
    ASSERT_EQ(shuffled.gaps.size(), 1u);
    EXPECT_EQ(shuffled.gaps[0].start, ordered.gaps[0].start);
    EXPECT_EQ(shuffled.gaps[0].end, ordered.gaps[0].end);
    EXPECT_EQ(shuffled.usual, ordered.usual);
}

// Large codes over many records: the mean of a constant is the constant.
TEST(PlotData, AConstantsMeanIsTheConstant) {
    Summary big;
    for (int i = 0; i < 3000000; ++i) {
        big.add(4294967295.0);
    }
    Summary merged;
    merged.merge(big);
    merged.merge(big);
    EXPECT_EQ(big.mean(), 4294967295.0);
    EXPECT_EQ(merged.mean(), 4294967295.0);
    EXPECT_LE(merged.mean(), merged.max);
}

} // namespace
