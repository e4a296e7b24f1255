// The Windows build of h2export under Wine (scripts/wine.sh): it follows a log
// written the Windows way ("\r\n" line ends) and keeps the maser's textfile,
// looking at the log by polling as it does on Windows; and the system's
// taskkill (without /F) stops it in order.
#include "tests/h2export/log_fixture.h"
#include "tests/h2export/running_export.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

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
    const std::string prom = out + "/m1.prom";
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
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(dir.file("east.prom")); },
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
