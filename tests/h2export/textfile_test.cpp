// h2export --textfile as node_exporter sees it: the files it keeps while logs
// grow, go quiet, rotate and turn bad.
#include "tests/h2export/log_fixture.h"
#include "tests/h2export/running_export.h"
#include "tests/support/tmpfs_mount.h"
#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>

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
        return h2test::read_text_file(dir_.file("out/h2mon-" + maser + ".prom"));
    }
    std::string sample(const std::string& maser, const std::string& series) {
        return sample_of(prom(maser), series);
    }
    void start(const std::vector<std::string>& follows, const std::string& stale = "1",
               const std::vector<std::string>& more = {}) {
        fs::create_directory(dir_.file("out"));
        std::vector<std::string> args{"--textfile", dir_.file("out"), "--stale-after", stale};
        args.insert(args.end(), more.begin(), more.end());
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

TEST_F(Textfile, FollowDirMakesAMaserOfEveryLogInTheFolderNowAndLater) {
    const std::string logs = dir_.file("logs");
    fs::create_directory(logs);
    const std::string mjd_east = mjd_now(-20), mjd_west = mjd_now(-5), mjd_solo = mjd_now(-30);
    append_file(logs + "/east.csv", random_row(mjd_east, 1));
    // Rotated files and other files are not masers.
    append_file(logs + "/east.csv.1", random_row(mjd_now(-3000), 2));
    append_file(logs + "/east.csv.2.gz", "not a maser");
    append_file(logs + "/notes.txt", "not a maser");
    append_file(dir_.file("solo.log"), random_row(mjd_solo, 3));
    start({"solo=" + dir_.file("solo.log")}, "60", {"--follow-dir", logs});
    ASSERT_TRUE(shows_record("solo", mjd_solo));
    ASSERT_TRUE(shows_record("east", mjd_east));

    // A log made later is a new maser, without a restart.
    append_file(logs + "/west.csv", random_row(mjd_west, 4));
    ASSERT_TRUE(shows_record("west", mjd_west));
    EXPECT_TRUE(eventually([&] { return sample("west", "maser_up{maser=\"west\"}") == "1"; }));
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_.file("out"))) {
        files.insert(entry.path().filename().string());
    }
    EXPECT_EQ(files,
              (std::set<std::string>{"h2mon-east.prom", "h2mon-solo.prom", "h2mon-west.prom"}));
}

// A log whose folder is replaced while h2export runs: renamed and made again
// with a new log, or a file system mounted over it later (the folder an empty
// mount point at the start). The new log is read within seconds.
TEST_F(Textfile, LogFolderReplacedOrMountedOverIsFollowedAgain) {
    const std::string logs = dir_.file("logs");
    const std::string log = logs + "/m.csv";
    fs::create_directory(logs);
    append_file(log, random_row(mjd_now(-30), 1));
    start({"m=" + log}, "60");

    fs::rename(logs, dir_.file("logs.old"));
    fs::create_directory(logs);
    const std::string mjd_1 = mjd_now(-20);
    append_file(log, random_row(mjd_1, 2));
    ASSERT_TRUE(shows_record("m", mjd_1));

    if (!h2test::TmpfsMount::allowed()) {
        GTEST_SKIP() << "mounting a file system over the log's folder needs root";
    }
    fs::remove_all(logs);
    fs::create_directory(logs);
    std::this_thread::sleep_for(milliseconds(1500)); // the empty folder is followed
    h2test::TmpfsMount mounted;
    std::string error;
    ASSERT_TRUE(mounted.mount(logs, 1 << 20, error)) << error;
    const std::string mjd_2 = mjd_now(-10);
    append_file(log, random_row(mjd_2, 3));
    ASSERT_TRUE(shows_record("m", mjd_2));
    const std::string mjd_3 = mjd_now(-5);
    append_file(log, random_row(mjd_3, 4));
    ASSERT_TRUE(shows_record("m", mjd_3));
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
        good.substr(good.find(',', good.find(',') + 1)) + "9" + good.substr(1);
    const int bad_count = 7; // the last one stamped in 2109: one digit of the MJD changed
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
    EXPECT_EQ(count("skipped a row whose MJD is before 1990"), 1) << all;
    EXPECT_EQ(count("is a directory"), 1) << all;
    EXPECT_TRUE(eventually([&] { return h2export_.running(); }));
}

// The textfile folder is node_exporter's, shared with other collectors:
// h2export writes only files named as its own, whatever the masers are called,
// and leaves every other file there as it was.
TEST_F(Textfile, OnlyItsOwnFilesInTheSharedFolderAreTouched) {
    fs::create_directory(dir_.file("out"));
    const std::vector<std::string> others{"apt.prom", "east.prom", "east.prom.tmp",
                                          ".east.prom.tmp", "h2mon.prom"};
    for (const std::string& name : others) {
        h2test::write_text_file(dir_.file("out/" + name), "# another collector's " + name + "\n");
    }
    const std::string logs = dir_.file("logs");
    fs::create_directory(logs);
    const std::string mjd = mjd_now(-10);
    for (const char* maser : {"east", "apt"}) {
        append_file(logs + "/" + maser + ".csv", random_row(mjd, 1));
    }
    start({}, "60", {"--follow-dir", logs});
    ASSERT_TRUE(shows_record("east", mjd));
    ASSERT_TRUE(shows_record("apt", mjd));
    append_file(logs + "/east.csv", random_row(mjd_now(-5), 2));
    ASSERT_TRUE(eventually([&] { return sample("east", "maser_up{maser=\"east\"}") == "1"; }));

    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_.file("out"))) {
        files.insert(entry.path().filename().string());
    }
    std::set<std::string> expected(others.begin(), others.end());
    expected.insert({"h2mon-east.prom", "h2mon-apt.prom"});
    EXPECT_EQ(files, expected);
    for (const std::string& name : others) {
        EXPECT_EQ(h2test::read_text_file(dir_.file("out/" + name)),
                  "# another collector's " + name + "\n")
            << name;
    }
}

// Without its textfile folder (node_exporter not installed yet) h2export goes
// on with the line protocol, says once that it waits, and writes the files
// when the folder comes, without a restart.
TEST(TextfileStart, AMissingFolderIsWaitedForWhileTheLineProtocolGoesOn) {
    h2test::TempDir dir;
    const std::string log = dir.file("a.csv");
    const std::string out = dir.file("out");
    const std::string mjd = mjd_now(-10);
    append_file(log, random_row(mjd, 1));
    h2test::ChildProcess h2export;
    start_h2export(h2export,
                   {"--follow", "a=" + log, "--textfile", out, "--influx", dir.file("points.lp")});
    ASSERT_TRUE(eventually([&] { return !h2test::read_text_file(dir.file("points.lp")).empty(); }))
        << h2export.read_stderr(milliseconds(100));
    EXPECT_NE(h2export.read_stderr(milliseconds(2000), "waiting for it")
                  .find(out + " is no folder; waiting for it"),
              std::string::npos);

    fs::create_directory(out);
    ASSERT_TRUE(eventually([&] {
        return !sample_of(h2test::read_text_file(out + "/h2mon-a.prom"),
                          "maser_last_record_timestamp_seconds{maser=\"a\"}")
                    .empty();
    })) << h2export.read_stderr(milliseconds(100));
    EXPECT_TRUE(h2export.running());
    const std::string said = h2export.read_stderr(milliseconds(100));
    EXPECT_EQ(said.find("waiting for it"), said.rfind("waiting for it")) << said;
}

// A textfile folder that cannot be written (read-only; for a user, one without
// write permission) fails the start with exit code 1, naming the option.
TEST(TextfileStart, AFolderThatCannotBeWrittenFailsTheStart) {
    h2test::TempDir dir;
    const std::string out = dir.file("out");
    fs::create_directory(out);
    h2test::TmpfsMount read_only;
    std::string error;
    if (h2test::TmpfsMount::allowed()) {
        ASSERT_TRUE(read_only.mount(out, 64 * 1024, error, true)) << error;
    } else {
        fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const ProgramRun run =
        run_h2export({"--follow", "a=" + dir.file("a.csv"), "--textfile", out}, milliseconds(5000));
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("h2export: --textfile: " + out), std::string::npos) << run.err;
}

} // namespace
} // namespace h2export_test
