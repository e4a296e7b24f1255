#include "program/version.h"
#include "tests/h2export/running_export.h"

#include <gtest/gtest.h>

namespace h2export_test {
namespace {

TEST(H2exportCommandLine, BadCommandLinesEndWithCodeTwoNamingTheOption) {
    h2test::TempDir dir;
    const std::string log = dir.file("a.csv");
    const struct {
        std::vector<std::string> args;
        const char* named;
    } cases[] = {
        {{"--textfile", dir.path()}, "--follow"},
        {{"--follow", "a", "--textfile", dir.path()}, "--follow"},
        {{"--follow", "a=", "--textfile", dir.path()}, "--follow"},
        {{"--follow", "a b=" + log, "--textfile", dir.path()}, "--follow"},
        {{"--follow", "../a=" + log, "--textfile", dir.path()}, "--follow"},
        {{"--follow", "a=" + log, "--follow", "a=" + log, "--textfile", dir.path()}, "--follow"},
        {{"--follow", "a=" + log}, "--textfile"},
        {{"--follow", "a=" + log, "--textfile", dir.file("none")}, "--textfile"},
        {{"--follow", "a=" + log, "--textfile"}, "--textfile"},
        {{"--follow", "a=" + log, "--influx", "-"}, "--state"},
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--stale-after", "x"}, "--stale-after"},
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--stale-after", "-1"},
         "--stale-after"},
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--stale-after", "0"}, "--stale-after"},
        {{"--follow", "a=" + log, "--backfill", "--textfile", dir.path()}, "--backfill"},
        // Standard input is one log, read once: for --backfill only.
        {{"--follow", "a=-", "--textfile", dir.path()}, "--follow"},
        {{"--follow", "a=-", "--follow", "b=-", "--backfill"}, "--follow"},
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--bogus"}, "--bogus"},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const std::string& arg : c.args) {
            shown += arg + " ";
        }
        const ProgramRun finished = run_h2export(c.args);
        EXPECT_EQ(finished.exit_code, 2) << shown;
        EXPECT_NE(finished.err.find(c.named), std::string::npos) << shown << "\n" << finished.err;
        EXPECT_EQ(finished.out, "") << shown;
    }
}

TEST(H2exportCommandLine, HelpAndVersion) {
    const ProgramRun help = run_h2export({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* option :
         {"--follow", "--textfile", "--influx", "--state", "--stale-after", "--backfill"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    const ProgramRun version = run_h2export({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, version_line("h2export") + "\n");
}

} // namespace
} // namespace h2export_test
