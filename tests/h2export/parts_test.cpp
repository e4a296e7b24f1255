// h2export's parts that the program's runs show only in part: the default
// stale time, a stop that ends a wait for changes, and a conversion's rounding.
#include "h2export/change_watch.h"
#include "h2export/maser_status.h"
#include "h2export/log_record.h"
#include "h2export/metrics.h"
#include "tests/support/log_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace {

TEST(StaleRule, ThreeUsualIntervalsAtLeastTheFloorOrAsGiven) {
    using std::chrono::seconds;
    const auto after = [](std::vector<double> times, std::optional<seconds> fixed = {}) {
        StaleRule rule(fixed);
        for (double t : times) {
            rule.record_time(static_cast<std::int64_t>(t * 1e9));
        }
        return std::chrono::duration<double>(rule.stale_after()).count();
    };
    EXPECT_EQ(after({}), 30);
    EXPECT_EQ(after({100, 101, 102}), 30);
    EXPECT_NEAR(after({100, 110.3, 120.6, 130.9}), 30.9, 1e-6);
    // One long gap (h2mon restarted) does not move the median.
    EXPECT_NEAR(after({0, 60, 3660, 3720, 3780}), 180, 1e-6);
    EXPECT_EQ(after({100, 110.3, 120.6}, seconds(2)), 2);
}

// A converted value is the logged decimal times the factor rounded once, so it
// prints as a dashboard should show it.
TEST(MetricValues, PressureInPascalsPrintsAsTheLoggedDecimalTimesTheFactor) {
    const std::string header = csv_header();
    const int h2_field = static_cast<int>(std::count(
        header.begin(), header.begin() + static_cast<long>(header.find(",H2_atm,")) + 1, ','));
    int metric = 0;
    while (std::string(kChannelMetrics[metric].channel) != "H2_atm") {
        ++metric;
    }
    const struct {
        const char* logged;
        const char* shown;
    } cases[] = {
        {"0.424", "42961.8"}, {"0.001", "101.325"}, {"-0.150", "-15198.75"}, {"1.000", "101325"}};
    for (const auto& c : cases) {
        std::string row = h2test::random_row("61384.290591", 1);
        row.pop_back();
        std::size_t at = 0;
        for (int k = 0; k < h2_field; ++k) {
            at = row.find(',', at) + 1;
        }
        row.replace(at, row.find(',', at) - at, c.logged);
        LogRow parsed;
        ASSERT_EQ(parsed.parse(row), LogLine::kRow);
        MetricValues values;
        ASSERT_TRUE(metric_values(parsed, &values));
        std::string shown;
        append_sample_value(shown, values[metric], false);
        EXPECT_EQ(shown, c.shown) << c.logged;
    }
}

// Fields that read as numbers but are not of the form h2mon prints are bad.
TEST(LogRecord, NumbersNotAsH2monPrintsThemAreBad) {
    const std::string row = h2test::random_row("61384.290591", 3);
    const std::string line = row.substr(0, row.size() - 1);
    const std::size_t second = line.find(',', line.find(',') + 1);
    const auto with_first_field = [&](const std::string& field) {
        return line.substr(0, line.find(',') + 1) + field + line.substr(second);
    };
    const RecordTimes times(2000000000LL * 1000000000LL);
    LogRecord record;
    EXPECT_EQ(read_log_line(line, times, record), LineKind::kRecord);
    for (const char* field : {"27.069", "-0.150", "0.000", "100.000"}) {
        EXPECT_EQ(read_log_line(with_first_field(field), times, record), LineKind::kRecord)
            << field;
    }
    for (const char* field :
         {"27", ".069", "027.069", "1e5", "27.0690", "27.06", "+27.069", "-.069", "27.069 "}) {
        EXPECT_EQ(read_log_line(with_first_field(field), times, record), LineKind::kBadNumber)
            << field;
    }
    for (const char* mjd : {"61384.29059", "61384", "061384.290591", "61384.2905910"}) {
        EXPECT_NE(read_log_line(std::string(mjd) + line.substr(line.find(',')), times, record),
                  LineKind::kRecord)
            << mjd;
    }
}

#ifndef _WIN32
TEST(ChangeWatch, AStopEndsAWaitWithoutATimeLimitAtOnce) {
    const StopSignals stops;
    ChangeWatch watch(stops);
    ASSERT_TRUE(watch.watch_folder(::testing::TempDir()));
    ASSERT_EQ(std::raise(SIGTERM), 0);
    const auto start = std::chrono::steady_clock::now();
    ChangeWatch::Changes changes;
    watch.wait(std::nullopt, changes);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(stops.requested());
}
#endif

} // namespace
