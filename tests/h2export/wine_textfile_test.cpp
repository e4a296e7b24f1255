// The Windows build of h2export under Wine (scripts/wine.sh): it follows a log
// written the Windows way ("\r\n" line ends) and keeps the maser's textfile,
// looking at the log by polling as it does on Windows; and the system's
// taskkill (without /F) stops it in order.
#include "tests/h2export/log_fixture.h"
#include "tests/h2export/running_export.h"
#include "tests/support/gzip.h"
#include "tests/support/process.h"
#include "telemetry/mjd_time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace h2export_test {
namespace {

using std::chrono::milliseconds;

// The Windows build's h2export, as the Windows build's test run names it
// (tests/wine); empty when the test is run otherwise.
std::string h2export_exe() {
    const char* given = std::getenv("H2EXPORT_EXE");
    return given != nullptr ? given : "";
}

// The Windows name of a Linux path: Wine's drive Z: is the root.
std::string windows_path(const std::string& path) {
    return "Z:" + path;
}

std::string windows_row(const std::string& mjd, unsigned seed) {
    std::string row = random_row(mjd, seed);
    return row.insert(row.size() - 1, "\r");
}

#define REQUIRE_H2EXPORT_EXE()                                                                     \
    do {                                                                                           \
        if (!std::filesystem::exists(h2export_exe())) {                                            \
            GTEST_SKIP() << "no h2export.exe ('" << h2export_exe()                                 \
                         << "'): run this test through the mingw preset's tests, which name it "   \
                            "in H2EXPORT_EXE";                                                     \
        }                                                                                          \
    } while (false)

TEST(H2exportUnderWine, FollowsALogAndWritesTheTextfile) {
    REQUIRE_H2EXPORT_EXE();
    h2test::TempDir dir;
    const std::string log = dir.file("maser 1.csv");
    const std::string out = dir.file("out");
    std::filesystem::create_directory(out);
    append_file(log, windows_row(mjd_now(-3600), 1));

    h2test::ChildProcess h2export;
    std::string error;
    ASSERT_TRUE(
        h2export.start({WINE_SH, "run", h2export_exe(), "--follow", "m1=" + windows_path(log),
                        "--textfile", windows_path(out), "--stale-after", "30"},
                       error))
        << error;
    const std::string prom = out + "/h2mon-m1.prom";
    const auto sample = [&](const std::string& series) {
        return sample_of(h2test::read_text_file(prom), series);
    };
    ASSERT_TRUE(
        eventually([&] { return sample("maser_up{maser=\"m1\"}") == "0"; }, milliseconds(60000)))
        << h2export.read_stderr(milliseconds(100));

    const std::string row = windows_row(mjd_now(), 2);
    append_file(log, row);
    ASSERT_TRUE(eventually([&] { return sample("maser_up{maser=\"m1\"}") == "1"; }));
    const std::string text = h2test::read_text_file(prom);
    EXPECT_EQ(
        std::stod(sample_of(text, "maser_supply_voltage_volts{maser=\"m1\",rail=\"battery\"}")),
        std::stod(row_field(row, "Batt_V")));
    EXPECT_EQ(sample_of(text, "maser_log_malformed_lines_total{maser=\"m1\"}"), "0");
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

// The line protocol across a stop (taskkill), the log rotated and compressed meanwhile:
// the rest of the compressed file, read through the handle opened when the
// reading was planned, then the new log; each record once.
TEST(H2exportUnderWine, ARestartReadsOnInTheCompressedRotatedLog) {
    REQUIRE_H2EXPORT_EXE();
    h2test::TempDir dir;
    const std::string log = dir.file("m1.csv");
    const std::string output = dir.file("points.lp");
    std::vector<std::string> rows;
    for (int i = 0; i < 4; ++i) {
        rows.push_back(windows_row(mjd_now(i - 10), static_cast<unsigned>(i)));
    }
    const auto points = [&] {
        const std::string text = h2test::read_text_file(output);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    const auto run_until = [&](std::size_t count) {
        h2test::ChildProcess h2export;
        std::string error;
        ASSERT_TRUE(h2export.start({WINE_SH, "run", h2export_exe(), "--follow",
                                    "m1=" + windows_path(log), "--influx", windows_path(output)},
                                   error))
            << error;
        EXPECT_TRUE(eventually([&] { return points() >= count; }, milliseconds(60000)))
            << "running: " << h2export.running() << "\n"
            << h2export.read_stderr(milliseconds(100)) << h2export.stdout_text();
        const ProgramRun taskkill =
            run_program({WINE_SH, "run", "taskkill", "/im", "h2export.exe"});
        EXPECT_EQ(taskkill.exit_code, 0) << taskkill.out << taskkill.err;
        int status = -1;
        EXPECT_TRUE(h2export.wait_exit(status, milliseconds(10000)));
        EXPECT_EQ(status, 0) << h2export.read_stderr(milliseconds(100));
    };
    append_file(log, rows[0] + rows[1]);
    run_until(2);
    append_file(log, rows[2]);
    std::filesystem::rename(log, log + ".1");
    h2test::write_text_file(log + ".1.gz", h2test::gzip(h2test::read_text_file(log + ".1")));
    std::filesystem::remove(log + ".1");
    append_file(log, rows[3]);
    run_until(4);

    const std::string text = h2test::read_text_file(output);
    ASSERT_EQ(points(), rows.size()) << text;
    std::size_t at = 0;
    for (const std::string& row : rows) {
        std::int64_t ns = 0;
        ASSERT_TRUE(mjd_unix_ns(row.substr(0, row.find(',')), &ns));
        const std::size_t end = text.find('\n', at);
        EXPECT_EQ(text.substr(text.rfind(' ', end) + 1, end - text.rfind(' ', end) - 1),
                  std::to_string(ns));
        at = end + 1;
    }
}

// As Task Scheduler's recipe stops it: taskkill /im h2export.exe, without /F.
TEST(H2exportUnderWine, TaskkillStopsItInOrder) {
    REQUIRE_H2EXPORT_EXE();
    h2test::TempDir dir;
    const std::string log = dir.file("east.csv");
    append_file(log, windows_row(mjd_now(), 1));
    h2test::ChildProcess h2export;
    std::string error;
    ASSERT_TRUE(
        h2export.start({WINE_SH, "run", h2export_exe(), "--follow", "east=" + windows_path(log),
                        "--textfile", windows_path(dir.path())},
                       error))
        << error;
    // The textfile is written once the run is under way.
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(dir.file("h2mon-east.prom")); },
                           milliseconds(60000)))
        << h2export.read_stderr(milliseconds(100));

    const ProgramRun taskkill = run_program({WINE_SH, "run", "taskkill", "/im", "h2export.exe"});
    ASSERT_EQ(taskkill.exit_code, 0) << taskkill.out << taskkill.err;
    int code = -1;
    ASSERT_TRUE(h2export.wait_exit(code, milliseconds(5000))) << "still running after taskkill";
    EXPECT_EQ(code, 0) << h2export.read_stderr(milliseconds(100));
}

} // namespace
} // namespace h2export_test
