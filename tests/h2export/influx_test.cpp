// h2export --influx: one point per record, each exactly once across restarts,
// read back equal from a real InfluxDB.
#include "h2export/influx.h"
#include "tests/h2export/influx_server.h"
#include "tests/h2export/log_fixture.h"
#include "tests/support/tmpfs_mount.h"

#include "telemetry/mjd_time.h"
#include "telemetry/channels.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <sys/statvfs.h>
#include <thread>

namespace h2export_test {
namespace {

using std::chrono::milliseconds;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// Runs h2export until `output` has `points` lines, then stops it as a
// supervisor would.
void export_until(const std::vector<std::string>& args, const std::string& output,
                  std::size_t points) {
    h2test::ChildProcess h2export;
    start_h2export(h2export, args);
    // Bounded only so that a fault fails the test rather than hanging it: a
    // long log under a sanitizer on a busy machine takes its time.
    EXPECT_TRUE(
        eventually([&] { return lines_of(h2test::read_text_file(output)).size() >= points; },
                   milliseconds(120000)))
        << h2export.read_stderr(milliseconds(100));
    h2export.signal(SIGTERM);
    int status = -1;
    EXPECT_TRUE(h2export.wait_exit(status, milliseconds(5000)));
    EXPECT_EQ(status, 0) << "an orderly stop";
}

std::int64_t unix_ns_of(const std::string& row) {
    std::int64_t ns = 0;
    EXPECT_TRUE(mjd_unix_ns(row.substr(0, row.find(',')), &ns));
    return ns;
}

// The point lines of `output` end with the times of `rows`, each once and in order.
void expect_points_of(const std::string& output, const std::vector<std::string>& rows,
                      const std::string& maser = "a") {
    const std::vector<std::string> points = lines_of(h2test::read_text_file(output));
    ASSERT_EQ(points.size(), rows.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(points[i].rfind("maser,maser=" + maser + " ", 0), 0u) << i << ": " << points[i];
        EXPECT_EQ(points[i].substr(points[i].rfind(' ') + 1), std::to_string(unix_ns_of(rows[i])))
            << i;
    }
}

// The output on a file system that fills up: the failed batch leaves no part
// of a point behind, it is written whole once there is room, and a restart
// after that neither loses nor repeats a point.
TEST(Influx, AFullDiskLeavesWholePointsAndARestartLosesAndRepeatsNothing) {
    if (!h2test::TmpfsMount::allowed()) {
        GTEST_SKIP() << "a small file system that fills up is mounted by the test: needs root";
    }
    h2test::TempDir dir;
    const std::string full = dir.file("full");
    std::filesystem::create_directory(full);
    h2test::TmpfsMount mounted;
    std::string error;
    ASSERT_TRUE(mounted.mount(full, 64 * 1024, error)) << error;
    struct statvfs space;
    ASSERT_EQ(::statvfs(full.c_str(), &space), 0);
    // All but one page taken: the output has room for a few points.
    const std::string filler = full + "/filler";
    h2test::write_text_file(filler, std::string(space.f_bavail * space.f_bsize - 4096, 'x'));

    const std::string log = dir.file("a.csv");
    const std::string output = full + "/points.lp";
    const std::vector<std::string> args{"--follow", "a=" + log, "--influx",
                                        output,     "--state",  dir.file("state")};
    std::vector<std::string> rows;
    for (int i = 0; i < 30; ++i) {
        rows.push_back(random_row(mjd_text(1.7e9 + 10.3 * i), static_cast<unsigned>(i)));
    }
    const auto add = [&](int from, int to) {
        std::string text;
        for (int i = from; i < to; ++i) {
            text += rows[i];
        }
        append_file(log, text);
    };
    {
        h2test::ChildProcess h2export;
        start_h2export(h2export, args);
        add(0, 3);
        ASSERT_TRUE(
            eventually([&] { return lines_of(h2test::read_text_file(output)).size() == 3; }));
        add(3, 20);
        EXPECT_NE(h2export.read_stderr(milliseconds(5000), "No space left").find("No space left"),
                  std::string::npos);
        std::filesystem::remove(filler);
        add(20, 22);
        ASSERT_TRUE(eventually([&] {
            return lines_of(h2test::read_text_file(output)).size() >= 22;
        })) << h2export.read_stderr(milliseconds(100));
        h2export.signal(SIGTERM);
        int status = -1;
        EXPECT_TRUE(h2export.wait_exit(status, milliseconds(5000)));
    }
    expect_points_of(output, {rows.begin(), rows.begin() + 22});
    add(22, 30);
    export_until(args, output, 30);
    expect_points_of(output, rows);
}

// A stop while a long log is caught up is taken between two batches, not
// after the whole log (a log of gigabytes would outlast a service manager's
// stop time-out); the restart goes on from there, each point once.
TEST(Influx, AStopWhileALongLogIsCaughtUpComesBetweenBatches) {
    h2test::TempDir dir;
    const std::string log = dir.file("a.csv");
    const std::string output = dir.file("points.lp");
    const std::vector<std::string> args{"--follow", "a=" + log, "--influx", output};
    std::vector<std::string> rows;
    std::string text;
    while (text.size() < 16u * InfluxOutput::kBatchBytes) {
        rows.push_back(random_row(mjd_text(1.7e9 + 10.3 * static_cast<double>(rows.size())),
                                  static_cast<unsigned>(rows.size())));
        text += rows.back();
    }
    append_file(log, text);
    {
        h2test::ChildProcess h2export;
        start_h2export(h2export, args);
        ASSERT_TRUE(eventually([&] {
            return std::filesystem::exists(output) && std::filesystem::file_size(output) > 0;
        }));
        h2export.signal(SIGTERM);
        int status = -1;
        EXPECT_TRUE(h2export.wait_exit(status, milliseconds(5000)));
        EXPECT_EQ(status, 0);
    }
    const std::size_t written = lines_of(h2test::read_text_file(output)).size();
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, rows.size()) << "the whole log was read before the stop";
    export_until(args, output, rows.size());
    expect_points_of(output, rows);
}

// A reader of standard output that takes nothing (a collector that hangs)
// holds h2export in its write; a stop must still end it in order, and the
// points it could not write come at the next start.
TEST(Influx, AStopEndsTheRunWhileTheReaderOfStandardOutputTakesNothing) {
    h2test::TempDir dir;
    const std::string log = dir.file("a.csv");
    std::string text;
    for (unsigned i = 0; text.size() < 2 * InfluxOutput::kBatchBytes; ++i) {
        text += random_row(mjd_text(1.7e9 + 10.3 * i), i);
    }
    append_file(log, text);
    h2test::ChildProcess h2export;
    start_h2export(h2export,
                   {"--follow", "a=" + log, "--influx", "-", "--state", dir.file("state")});
    ASSERT_TRUE(eventually([&] { return h2export.stdout_unread() >= 60000; }))
        << "the pipe to the reader never filled";

    h2export.signal(SIGTERM);
    // Not read meanwhile: a test that took the output in would free the writer.
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(3000);
    while (h2export.running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_FALSE(h2export.running()) << "the stop waited for the reader";
    int status = -1;
    ASSERT_TRUE(h2export.wait_exit(status, milliseconds(5000)));
    EXPECT_EQ(status, 0);
    EXPECT_NE(h2export.read_stderr(milliseconds(0)).find("stopped while its reader took nothing"),
              std::string::npos);
}

// A log that appears in a followed folder and is rotated before h2export
// first reads it: the rows in the rotated file come first, then the log's.
TEST(Influx, ANewLogRotatedBeforeItIsFirstReadLosesNothing) {
    for (const Rotation how : {Rotation::kRename, Rotation::kCopyTruncate}) {
        SCOPED_TRACE(how == Rotation::kRename ? "rename" : "copytruncate");
        h2test::TempDir dir;
        const std::string logs = dir.file("logs");
        std::filesystem::create_directory(logs);
        const std::string output = dir.file("points.lp");
        h2test::ChildProcess h2export;
        start_h2export(h2export, {"--follow-dir", logs, "--influx", output});
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(output + ".state"); }));
        std::vector<std::string> rows;
        for (int i = 0; i < 10; ++i) {
            rows.push_back(random_row(mjd_now(i), static_cast<unsigned>(i)));
        }
        const std::string log = logs + "/west.csv";
        // Held while the log is made, written and rotated: h2export sees it
        // first as it is after the rotation.
        ASSERT_TRUE(h2export.signal(SIGSTOP));
        for (int i = 0; i < 5; ++i) {
            append_file(log, rows[i]);
        }
        rotate_log(log, how, false);
        for (int i = 5; i < 10; ++i) {
            append_file(log, rows[i]);
        }
        ASSERT_TRUE(h2export.signal(SIGCONT));
        EXPECT_TRUE(eventually([&] {
            return lines_of(h2test::read_text_file(output)).size() >= rows.size();
        })) << h2export.read_stderr(milliseconds(100));
        expect_points_of(output, rows, "west");
    }
}

// Restarted with the line protocol and the textfile, h2export goes on after
// the records it wrote, and its textfile shows the latest of them at once.
TEST(Influx, ARestartShowsTheLatestRecordInTheTextfileAtOnce) {
    h2test::TempDir dir;
    const std::string log = dir.file("a.csv");
    const std::string output = dir.file("points.lp");
    const std::string textfiles = dir.file("textfiles");
    std::filesystem::create_directory(textfiles);
    const std::vector<std::string> args{"--follow", "a=" + log,   "--influx",
                                        output,     "--textfile", textfiles};
    const std::vector<std::string> rows{random_row(mjd_now(-30), 1), random_row(mjd_now(-20), 2)};
    append_file(log, rows[0] + rows[1]);
    export_until(args, output, 2);
    const std::string prom = textfiles + "/h2mon-a.prom";
    std::filesystem::remove(prom);

    h2test::ChildProcess h2export;
    start_h2export(h2export, args);
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(prom); }));
    const std::string seen =
        sample_of(h2test::read_text_file(prom), "maser_last_record_timestamp_seconds{maser=\"a\"}");
    ASSERT_NE(seen, "") << h2test::read_text_file(prom);
    EXPECT_NEAR(std::stod(seen), static_cast<double>(unix_ns_of(rows[1])) / 1e9, 1e-3);
    EXPECT_EQ(lines_of(h2test::read_text_file(output)).size(), rows.size());
}

TEST(Influx, EveryRecordOnceAcrossRestartsAndReadBackEqual) {
    h2test::TempDir dir;
    const std::string log = dir.file("a.csv");
    const std::string output = dir.file("points.lp");
    const std::vector<std::string> args{"--follow", "a=" + log, "--influx", output};
    std::vector<std::string> rows;
    for (int i = 0; i < 7; ++i) {
        rows.push_back(random_row(mjd_text(1.7e9 + 10.3 * i), static_cast<unsigned>(i)));
    }
    append_file(log, rows[0] + rows[1] + rows[2]);
    export_until(args, output, 3);

    // A stop after points went out but before their position was saved leaves
    // points the state does not know of: they must not come twice.
    append_file(output, lines_of(h2test::read_text_file(output)).back() + "\n");
    append_file(log, rows[3] + rows[4]);
    export_until(args, output, 5);

    // Rotated by renaming while h2export was stopped, and h2mon wrote on into
    // the renamed file before it was restarted on a new one.
    std::filesystem::rename(log, log + ".1");
    append_file(log + ".1", rows[5]);
    append_file(log, rows[6]);
    export_until(args, output, 7);

    const std::vector<std::string> points = lines_of(h2test::read_text_file(output));
    ASSERT_EQ(points.size(), rows.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(points[i].substr(points[i].rfind(' ') + 1), std::to_string(unix_ns_of(rows[i])))
            << i;
    }

    InfluxServer influx;
    std::string error;
    ASSERT_TRUE(influx.start(error)) << error;
    ASSERT_EQ(influx.client({"-execute", "CREATE DATABASE station"}).exit_code, 0);
    const std::string import = dir.file("import.txt");
    h2test::write_text_file(import, "# DML\n# CONTEXT-DATABASE: station\n" +
                                        h2test::read_text_file(output));
    const ProgramRun imported = influx.client({"-import", "-path", import, "-precision", "ns"});
    ASSERT_EQ(imported.exit_code, 0) << imported.out << imported.err;

    const ProgramRun query = influx.client({"-database", "station", "-precision", "ns", "-format",
                                            "csv", "-execute", "SELECT * FROM maser"});
    ASSERT_EQ(query.exit_code, 0) << query.err;
    const std::vector<std::string> table = lines_of(query.out);
    ASSERT_EQ(table.size(), rows.size() + 1) << query.out;
    std::vector<std::string> columns;
    std::istringstream header(table[0]);
    for (std::string column; std::getline(header, column, ',');) {
        columns.push_back(column);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::istringstream cells(table[i + 1]);
        std::size_t at = 0;
        int compared = 0;
        for (std::string cell; std::getline(cells, cell, ','); ++at) {
            const std::string& column = columns[at];
            if (column == "time") {
                EXPECT_EQ(cell, std::to_string(unix_ns_of(rows[i])));
            } else if (column == "maser") {
                EXPECT_EQ(cell, "a");
            } else if (column != "name") {
                const std::string logged = row_field(rows[i], column);
                const int row = channel_row_named(column);
                ASSERT_GE(row, 0) << column;
                if (kChannels[row].scale != 0) {
                    EXPECT_EQ(std::stod(cell), std::stod(logged)) << column;
                } else if (column == "AuxFLL3") {
                    EXPECT_EQ(cell, logged);
                } else {
                    EXPECT_EQ(std::stoull(cell), std::stoull(logged, nullptr, 16)) << column;
                }
                ++compared;
            }
        }
        EXPECT_EQ(compared, 37) << "every shown channel but the six reserved ones";
    }
}

} // namespace
} // namespace h2export_test
