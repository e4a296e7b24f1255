// h2export --textfile as node_exporter sees it: the files it keeps while logs
// grow, go quiet, rotate and turn bad.
#include "tests/h2export/log_fixture.h"
#include "tests/h2export/running_export.h"
#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace h2export_test {
namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

// What `promtool check metrics` says of `text`; empty when it passes.
std::string promtool_complaints(const std::string& text) {
    const ProgramRun check = run_program({"/usr/bin/promtool", "check", "metrics"}, text);
    return check.exit_code == 0 ? "" : check.out + check.err;
}

// h2export --textfile on logs in a temporary directory.
class ExportRun {
public:
    std::string prom(const std::string& maser) {
        return h2test::read_text_file(dir_.file("out/" + maser + ".prom"));
    }
    std::string sample(const std::string& maser, const std::string& series) {
        return sample_of(prom(maser), series);
    }
    void start(const std::vector<std::string>& follows, const std::string& stale = "1") {
        fs::create_directory(dir_.file("out"));
        std::vector<std::string> args{"--textfile", dir_.file("out"), "--stale-after", stale};
        for (const std::string& follow : follows) {
            args.insert(args.end(), {"--follow", follow});
        }
        start_h2export(h2export_, args);
        // Running once every file is there: what is appended from now on is
        // read as new rows, not as the history read at start-up.
        for (const std::string& follow : follows) {
            const std::string maser = follow.substr(0, follow.find('='));
            ASSERT_TRUE(eventually([&] { return !prom(maser).empty(); })) << maser;
        }
    }
    // Waits until the file shows `mjd` as the latest record.
    bool shows_record(const std::string& maser, const std::string& mjd) {
        const double unix_seconds =
            (std::stod(mjd) - static_cast<double>(kUnixEpochMjd)) * kSecondsPerDay;
        return eventually([&] {
            const std::string seen =
                sample(maser, "maser_last_record_timestamp_seconds{maser=\"" + maser + "\"}");
            return !seen.empty() && std::abs(std::stod(seen) - unix_seconds) < 0.01;
        });
    }

    h2test::TempDir dir_;
    h2test::ChildProcess h2export_;
};

class Textfile : public ::testing::Test, public ExportRun {};

TEST_F(Textfile, ChannelsInBaseUnitsWhileUpAbsentOnceStale) {
    const std::string log_a = dir_.file("a.csv");
    const std::string old_row = random_row(mjd_now(-3600), 1);
    append_file(log_a, old_row);
    start({"a=" + log_a, "b=" + dir_.file("b.csv")});

    // An old row gives the latest time but not an up maser; a missing log is waited for.
    ASSERT_TRUE(shows_record("a", old_row.substr(0, old_row.find(','))));
    EXPECT_EQ(sample("a", "maser_up{maser=\"a\"}"), "0");
    EXPECT_EQ(prom("a").find("maser_supply_voltage_volts"), std::string::npos);
    ASSERT_TRUE(eventually([&] { return sample("b", "maser_up{maser=\"b\"}") == "0"; }));
    EXPECT_EQ(prom("b").find("maser_last_record_timestamp_seconds{"), std::string::npos);
    EXPECT_NE(
        h2export_.read_stderr(milliseconds(2000), "does not exist").find("b.csv does not exist"),
        std::string::npos);

    const std::string row = random_row(mjd_now(), 7);
    append_file(log_a, row);
    ASSERT_TRUE(eventually([&] { return sample("a", "maser_up{maser=\"a\"}") == "1"; }));
    const std::string text = prom("a");
    EXPECT_EQ(promtool_complaints(text), "") << text;
    for (const ChannelSeries& series : kCheckedSeries) {
        const std::string name = textfile_series(series, "a");
        const std::string seen = sample_of(text, name);
        ASSERT_NE(seen, "") << name;
        const double expected = series_value(series, row);
        EXPECT_NEAR(std::stod(seen), expected, std::abs(expected) * 1e-15) << name;
    }
    EXPECT_EQ(text.find("AuxFLL3"), std::string::npos);
    EXPECT_EQ(text.find("Rsvd"), std::string::npos);

    // No record for a second: down, channel series gone, the rest kept.
    ASSERT_TRUE(eventually([&] { return sample("a", "maser_up{maser=\"a\"}") == "0"; }));
    const std::string down = prom("a");
    EXPECT_EQ(down.find("maser_supply_voltage_volts"), std::string::npos);
    EXPECT_NE(sample_of(down, "maser_log_malformed_lines_total{maser=\"a\"}"), "");
    EXPECT_EQ(promtool_complaints(down), "") << down;
    for (const auto& entry : fs::directory_iterator(dir_.file("out"))) {
        EXPECT_EQ(entry.path().extension(), ".prom") << entry.path() << " left behind";
    }
}

// The log rotated under h2export: every row written before and after is read.
TEST(TextfileRotation, FollowsBothKinds) {
    for (const bool copy_truncate : {true, false}) {
        SCOPED_TRACE(copy_truncate ? "copy and truncate" : "rename and a new file");
        ExportRun run;
        const std::string log = run.dir_.file("m.csv");
        const std::string mjd_1 = mjd_now(-30), mjd_2 = mjd_now(-20), mjd_3 = mjd_now(-10);
        append_file(log, random_row(mjd_1, 1));
        run.start({"m=" + log}, "60");
        ASSERT_TRUE(run.shows_record("m", mjd_1));
        if (copy_truncate) {
            fs::copy_file(log, log + ".1");
            fs::resize_file(log, 0);
            append_file(log, random_row(mjd_2, 2));
            ASSERT_TRUE(run.shows_record("m", mjd_2));
        } else {
            fs::rename(log, log + ".1");
            append_file(log, "");
            // h2mon keeps writing to the file it opened until it is restarted.
            append_file(log + ".1", random_row(mjd_2, 2));
            ASSERT_TRUE(run.shows_record("m", mjd_2));
        }
        append_file(log, random_row(mjd_3, 3));
        ASSERT_TRUE(run.shows_record("m", mjd_3));
        EXPECT_EQ(run.sample("m", "maser_log_malformed_lines_total{maser=\"m\"}"), "0");
    }
}

TEST_F(Textfile, BadInputIsCountedReportedOnceAndSkipped) {
    const std::string log = dir_.file("m.csv");
    append_file(log, "");
    start({"m=" + log}, "60");
    const std::string good = random_row(mjd_now(-10), 1);
    const std::string bad_lines =
        std::string("\x01\xff\xfe garbage \x7f\n") + std::string(100, '\0') + "\n" +
        std::string(1 << 20, 'x') + "\n" + good.substr(0, good.rfind(',')) + "\n" +
        good.substr(0, good.size() - 1) + ",00,00\n" + good.substr(0, good.find(',') + 1) + "2x.1" +
        good.substr(good.find(',', good.find(',') + 1));
    const int bad_count = 6;
    const std::string mjd_1 = mjd_now(-5), mjd_2 = mjd_now(-4);
    append_file(log, bad_lines + random_row(mjd_1, 2));
    ASSERT_TRUE(shows_record("m", mjd_1));
    EXPECT_EQ(sample("m", "maser_log_malformed_lines_total{maser=\"m\"}"),
              std::to_string(bad_count));
    append_file(log, bad_lines + random_row(mjd_2, 3));
    ASSERT_TRUE(shows_record("m", mjd_2));
    EXPECT_EQ(sample("m", "maser_log_malformed_lines_total{maser=\"m\"}"),
              std::to_string(2 * bad_count));

    // The log replaced by a directory, then by a file again.
    fs::remove(log);
    fs::create_directory(log);
    const std::string& said = h2export_.read_stderr(milliseconds(3000), "is a directory");
    fs::remove(log);
    const std::string mjd_3 = mjd_now(-3);
    append_file(log, random_row(mjd_3, 4));
    ASSERT_TRUE(shows_record("m", mjd_3));

    const std::string all = h2export_.read_stderr(milliseconds(300));
    const auto count = [&](const std::string& text) {
        int n = 0;
        for (std::size_t at = all.find(text); at != std::string::npos;
             at = all.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    (void)said;
    EXPECT_EQ(count("skipped an overlong line"), 1) << all;
    EXPECT_EQ(count("skipped a line that is not the MJD and 43 fields"), 1) << all;
    EXPECT_EQ(count("skipped a row with a field that is not a number"), 1) << all;
    EXPECT_EQ(count("is a directory"), 1) << all;
    EXPECT_TRUE(eventually([&] { return h2export_.running(); }));
}

TEST_F(Textfile, AFollowedFolderGivesAMaserPerLogAndTakesNewOnesAsTheyCome) {
    fs::create_directory(dir_.file("logs"));
    fs::create_directory(dir_.file("out"));
    const std::string east_row = random_row(mjd_now(), 3);
    append_file(dir_.file("logs/east.csv"), east_row);
    // Rotated files and other names are no masers.
    append_file(dir_.file("logs/east.csv.1"), random_row(mjd_now(-60), 4));
    append_file(dir_.file("logs/notes.txt"), "not a log\n");
    start_h2export(h2export_, {"--follow-dir", dir_.file("logs"), "--textfile", dir_.file("out"),
                               "--stale-after", "30"});
    ASSERT_TRUE(eventually([&] { return !prom("east").empty(); }));

    // A maser added while h2export runs: its whole log is read.
    const std::string west_row = random_row(mjd_now(), 5);
    append_file(dir_.file("logs/west.csv"), west_row);
    ASSERT_TRUE(eventually([&] { return sample("west", "maser_up{maser=\"west\"}") == "1"; }));
    ASSERT_TRUE(shows_record("west", west_row.substr(0, west_row.find(','))));
    ASSERT_TRUE(shows_record("east", east_row.substr(0, east_row.find(','))));

    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_.file("out"))) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"east.prom", "west.prom"}));
}

} // namespace
} // namespace h2export_test
