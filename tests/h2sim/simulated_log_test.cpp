// Simulated weeks: the rows h2sim writes at simulated time, as h2mon would
// have logged them, and the program writing them to a file or into h2export.
#include "h2sim/simulated_log.h"
#include "telemetry/limits.h"
#include "telemetry/log_row.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

constexpr double kStart = 61192.0; // 2026-06-01 00:00 UTC

LogPlan plan(const char* scenario, double days, double interval, std::uint64_t seed = 1) {
    return log_plan(kStart, scenario, days, interval, seed);
}

// Every row of a plan, parsed; the lines are kept for the rows to refer into.
struct Rows {
    std::vector<std::string> lines;
    std::vector<LogRow> rows;

    explicit Rows(const LogPlan& p) {
        SimulatedLog log(p);
        std::string line;
        while (log.next(line)) {
            lines.push_back(line);
            line.clear();
        }
        for (const std::string& l : lines) {
            rows.emplace_back();
            EXPECT_EQ(rows.back().parse(l), LogLine::kRow) << l;
        }
    }

    double value(std::size_t i, const char* channel) const {
        double v = NAN;
        EXPECT_TRUE(rows[i].value(channel_row_named(channel), &v)) << channel;
        return v;
    }
};

TEST(SimulatedLog, RowsAreH2monsRowsOfTheFramesAtTheirTimes) {
    // No noise, and a channel the room does not swing: each row's H2_atm is the
    // story's value as the channel's 16 bits hold it, printed as h2mon does.
    LogPlan p = plan("hydrogen-empty", 2, 600);
    p.jitter = 0;
    const Rows log(p);
    ASSERT_EQ(log.rows.size(), 288u);
    const Scenario& story = *scenario_named("hydrogen-empty");
    const CHANNEL& h2 = channel_named("H2_atm");
    for (std::size_t i = 0; i < log.rows.size(); ++i) {
        const LogRow& row = log.rows[i];
        ASSERT_TRUE(row.fields_well_formed()) << log.lines[i];
        EXPECT_EQ(row.mjd_text(), csv_mjd(kStart + static_cast<double>(i) * 600 / 86400));
        const double value = log.value(i, "H2_atm");
        EXPECT_NEAR(value, story_value(story, static_cast<double>(i) * 600), h2.scale / 2 + 5e-4);
        // On the channel's grid: a value that went through the frame.
        const double counts = (value - h2.offset) / h2.scale;
        EXPECT_NEAR(counts, std::round(counts), 5e-4 / h2.scale) << value;
    }
}

TEST(SimulatedLog, AQuietMaserStaysInItsNormalBandsSwingsDailyAndKeepsItsSetPoints) {
    const Rows log(plan("quiet", 2, 60));
    const LimitTable limits = LimitTable::defaults();
    std::map<int, double> side_by_hour; // CSide_V summed by UTC hour
    for (std::size_t i = 0; i < log.rows.size(); ++i) {
        for (int row = 1; row < kChannelCount; ++row) {
            double v;
            if (channel_kind(kChannels[row]) == ChannelKind::kMeasurement) {
                ASSERT_TRUE(log.rows[i].value(row, &v));
                ASSERT_TRUE(limits.of(row).normal.holds(v)) << kChannels[row].name << " " << v;
            }
        }
        const double mjd = log.rows[i].mjd();
        side_by_hour[static_cast<int>((mjd - std::floor(mjd)) * 24)] += log.value(i, "CSide_V");
        for (const char* set_point : {"CCoarse", "OCoarse", "FFCorrH", "FFCorrL"}) {
            const int row = channel_row_named(set_point);
            EXPECT_EQ(log.rows[i].field(row), log.rows[0].field(row)) << set_point;
        }
    }
    // The cool of the night (around 04:00 UTC) against the warm afternoon, 120
    // records an hour: the oven works harder by a fraction of a volt.
    const double night = side_by_hour[4] / 120, afternoon = side_by_hour[16] / 120;
    EXPECT_GT(night - afternoon, 0.2);
    EXPECT_LT(night - afternoon, 1.0);
    // The fine tuning follows the cavity through the day (by 0x100 either way).
    double low = HUGE_VAL, high = -HUGE_VAL;
    for (std::size_t i = 0; i < log.rows.size(); ++i) {
        low = std::min(low, log.value(i, "CFine"));
        high = std::max(high, log.value(i, "CFine"));
    }
    EXPECT_GT(high - low, 0x180);
}

TEST(SimulatedLog, ASeedIsAMaserWithItsOwnLevelsAndTheSameRowsEachTime) {
    const Rows one(plan("quiet", 0.5, 60, 1)), again(plan("quiet", 0.5, 60, 1)),
        two(plan("quiet", 0.5, 60, 2));
    EXPECT_EQ(one.lines, again.lines);
    double differs = 0;
    for (std::size_t i = 0; i < one.rows.size(); ++i) {
        differs += std::fabs(one.value(i, "CSide_V") - two.value(i, "CSide_V"));
    }
    // Far more than the noise, which averages out.
    EXPECT_GT(differs / static_cast<double>(one.rows.size()), 0.05);
}

#if defined(H2SIM_PATH)
TEST(WriteLog, WritesAFileOrStandardOutputAndRefusesWhatBelongsToALine) {
    h2test::TempDir dir;
    const std::string file = dir.file("east.csv");
    const h2test::ProgramRun run =
        h2test::run_program({H2SIM_PATH, "--write-log", file, "--start", "2026-06-01", "--span",
                             "1d", "--interval", "1min", "--scenario", "oven-step"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::string text = h2test::read_text_file(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1440);
    EXPECT_EQ(text.substr(0, 13), "61192.000000,");

    const h2test::ProgramRun header = h2test::run_program(
        {H2SIM_PATH, "--write-log", "-", "--span", "1h", "--interval", "10min", "--header"});
    ASSERT_EQ(header.exit_code, 0) << header.err;
    EXPECT_EQ(header.out.substr(0, header.out.find('\n')), csv_header());
    EXPECT_EQ(std::count(header.out.begin(), header.out.end(), '\n'), 7);

    const struct {
        std::vector<std::string> args;
        const char* error;
    } refused[] = {
        {{"--write-log", file, "--link", "x"}, "--write-log makes no line: --link is for"},
        {{"--write-log", file, "--late", "10"}, "--write-log makes no line: --late is for"},
        {{"--span", "2d"}, "--span goes with --write-log"},
        {{"--write-log", file, "--interval", "10"}, "--interval: '10': expected a whole number"},
        {{"--write-log", file, "--start", "yesterday"}, "--start: 'yesterday': expected an MJD"},
        {{"--write-log", dir.file("no/such/dir.csv")}, "cannot write"},
    };
    for (const auto& c : refused) {
        std::vector<std::string> argv{H2SIM_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const h2test::ProgramRun r = h2test::run_program(argv);
        EXPECT_NE(r.exit_code, 0) << c.error;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    }
}
#endif

#if defined(H2SIM_PATH) && defined(H2EXPORT_PATH)
// The same generator feeds Prometheus' history: h2export reads the log from a pipe.
TEST(WriteLog, PipesIntoH2exportsBackfill) {
    const std::string pipe = std::string("set -o pipefail; '") + H2SIM_PATH +
                             "' --write-log - --span 1d --interval 1min --header --scenario "
                             "vacuum-leak | '" +
                             H2EXPORT_PATH + "' --follow east=- --backfill";
    const h2test::ProgramRun run = h2test::run_program({"/bin/bash", "-c", pipe});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.err.find("east: standard input: 1440 records written, 0 lines skipped as bad"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("maser_ion_pump_current_amperes{maser=\"east\"}"), std::string::npos);
    EXPECT_EQ(run.out.substr(run.out.size() - 6), "# EOF\n");
}
#endif

} // namespace
