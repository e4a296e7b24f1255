// A long run of h2mon, polling back to back, against a simulated maser that mixes
// whole answers with every fault it has (late, gapped, short, silent, corrupted
// answers, stray bytes, noise), at random. Two things must hold over the whole
// run: every record printed is, channel for channel, a frame the maser sent whole,
// in the order sent (nothing shifted, nothing invented); and every frame sent on a
// clean exchange was printed (nothing lost). The log file holds the same records.
//
// The run lasts H2_SOAK_SECONDS (60 by default) with the faults of seed
// H2_SOAK_SEED (189 by default). For a longer run, start the test program itself:
//   H2_SOAK_SECONDS=3600 build/dev/tests/faults/h2mon_soak_test
#include "tests/e2e/records.h"
#include "tests/e2e/simulator.h"
#include "tests/faults/running_h2mon.h"
#include "tests/faults/soak_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace faults {
namespace {

// The share of answers that get a random fault.
constexpr const char* kChaos = "0.3";

// Prints the figures of the run and records them with the test's result.
void report(const std::vector<LoggedExchange>& exchanges, std::size_t printed,
            const Verdict& verdict) {
    std::string answers;
    for (const auto& [kind, count] : fault_counts(exchanges)) {
        answers += " " + kind + " " + std::to_string(count);
        ::testing::Test::RecordProperty(kind, static_cast<int>(count));
    }
    std::printf("soak: %zu polls, %zu clean exchanges (%zu that had to be printed), %zu records"
                " printed, %zu matched; answers:%s\n",
                exchanges.size(), verdict.required + 1, verdict.required, printed, verdict.matched,
                answers.c_str());
    ::testing::Test::RecordProperty("polls", static_cast<int>(exchanges.size()));
    ::testing::Test::RecordProperty("printed", static_cast<int>(printed));
}

// Every timestamp within the run, in order.
void expect_plausible(const std::vector<std::string>& records, double from, double to) {
    const double slack = 2.0 / 86400; // six decimals of a day, and two clocks
    double previous = 0;
    for (const std::string& record : records) {
        const double mjd = std::atof(record.c_str());
        ASSERT_GE(mjd, from - slack) << record;
        ASSERT_LE(mjd, to + slack) << record;
        ASSERT_GE(mjd, previous) << record;
        previous = mjd;
    }
}

std::vector<std::vector<std::string>> fields_of(const std::vector<std::string>& records) {
    std::vector<std::vector<std::string>> fields;
    for (const std::string& record : records) {
        fields.push_back(fields_after_timestamp(record));
    }
    return fields;
}

TEST(Soak, UnderRandomFaultsEveryRecordIsAFrameSentWholeAndNoCleanFrameIsLost) {
    const int seconds = run_length("H2_SOAK_SECONDS", 60);
    const std::string seed = std::to_string(run_length("H2_SOAK_SEED", 189));
    h2test::TempDir dir;
    e2e::Simulator simulator;
    std::string error;
    ASSERT_TRUE(
        simulator.start({"--chaos", kChaos, "--seed", seed}, dir.file("exchanges.log"), error))
        << error;
    const double started = e2e::mjd_now();
    RunningH2mon h2mon(
        {"/port:" + simulator.path(), "/interval_ms:0", "/out:" + dir.file("records.csv")});
    ASSERT_TRUE(h2mon.started()) << h2mon.start_error();
    std::vector<std::string> records = h2mon.lines_for(std::chrono::seconds(seconds));
    ASSERT_EQ(h2mon.stop_with_key(records), 0) << h2mon.error_output();
    std::vector<LoggedExchange> exchanges;
    ASSERT_TRUE(parse_exchange_log(simulator.stop_and_read_log(), exchanges));
    ASSERT_FALSE(records.empty());
    records.erase(records.begin()); // the CSV header

    const Verdict verdict = judge(exchanges, fields_of(records));
    report(exchanges, records.size(), verdict);
    EXPECT_TRUE(verdict.strays.empty())
        << verdict.strays.size() << " records are no frame sent whole, the first:\n"
        << verdict.strays.front();
    EXPECT_TRUE(verdict.missing.empty())
        << verdict.missing.size() << " clean frames were not printed, the first of poll "
        << verdict.missing.front();
    // The checks above must have had something to check.
    EXPECT_GE(verdict.required * 5, exchanges.size()) << "too few clean exchanges";
    if (exchanges.size() >= 200) {
        std::map<std::string, std::size_t> counts = fault_counts(exchanges);
        for (const char* kind : {"late", "gaps", "short", "silent", "corrupt", "stray", "noise"}) {
            EXPECT_GT(counts[kind], 0u) << "no answer was " << kind;
        }
    }
    const std::vector<std::string> logged =
        e2e::lines_of(h2test::read_text_file(dir.file("records.csv")));
    EXPECT_EQ(fields_of(logged), fields_of(records)) << "the log file differs from the output";
    expect_plausible(records, started, e2e::mjd_now());
}

} // namespace
} // namespace faults
