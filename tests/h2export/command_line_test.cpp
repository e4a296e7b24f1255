// h2export's command line: parsed in process, and --help and --version
// through the program.
#include "h2export/options.h"
#include "program/version.h"
#include "tests/h2export/running_export.h"

#include <gtest/gtest.h>

#include <sstream>

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
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--stale-after", "abc"},
         "'abc' is not a number"},
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--state", log + ".state"}, "--state"},
        {{"--follow", "a=" + log, "--influx", dir.path()}, "--influx"},
        {{"--follow-dir", dir.path(), "--backfill"}, "--follow-dir"},
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--stale-after", "-1"},
         "--stale-after"},
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--stale-after", "0"}, "--stale-after"},
        {{"--follow", "a=" + log, "--backfill", "--textfile", dir.path()}, "--backfill"},
        // Standard input is one log, read once: for --backfill only.
        {{"--follow", "a=-", "--textfile", dir.path()}, "--follow"},
        {{"--follow", "a=-", "--follow", "b=-", "--backfill"}, "--follow"},
        {{"--follow", "a=" + log, "--textfile", dir.path(), "--bogus"}, "--bogus"},
        // An option takes one value each time it is given.
        {{"--follow", "a=" + log, "b=/logs/b.csv", "--textfile", dir.path()}, "b=/logs/b.csv"},
    };
    for (const auto& c : cases) {
        std::string shown;
        std::vector<const char*> argv = {"h2export"};
        for (const std::string& arg : c.args) {
            shown += arg + " ";
            argv.push_back(arg.c_str());
        }
        ExportOptions options;
        std::ostringstream out, err;
        const std::optional<int> code =
            parse_options(static_cast<int>(argv.size()), argv.data(), options, out, err);
        EXPECT_EQ(code, std::optional<int>(kExitUsage)) << shown;
        EXPECT_EQ(err.str().rfind("h2export: ", 0), 0u) << err.str();
        EXPECT_NE(err.str().find(c.named), std::string::npos) << shown << "\n" << err.str();
        EXPECT_EQ(out.str(), "") << shown;
    }
}

TEST(H2exportCommandLine, ReadsEveryOption) {
    const char* argv[] = {"h2export",       "--follow",      "a=/logs/a.csv",
                          "--follow",       "b=/logs/b.csv", "--influx",
                          "/out/points.lp", "--stale-after", "90"};
    ExportOptions options;
    std::ostringstream out, err;
    ASSERT_EQ(parse_options(9, argv, options, out, err), std::nullopt) << err.str();
    ASSERT_EQ(options.follows.size(), 2u);
    EXPECT_EQ(options.follows[1].name, "b");
    EXPECT_EQ(options.follows[1].path, "/logs/b.csv");
    EXPECT_EQ(options.state, "/out/points.lp.state");
    EXPECT_EQ(options.stale_after_seconds, std::optional<double>(90));
    EXPECT_FALSE(options.backfill);

    // Several files of one maser for a backfill; folders to follow.
    const char* backfill[] = {"h2export", "--follow",      "a=/logs/a.csv.1",
                              "--follow", "a=/logs/a.csv", "--backfill"};
    ASSERT_EQ(parse_options(6, backfill, options = {}, out, err), std::nullopt) << err.str();
    EXPECT_EQ(options.follows.size(), 2u);
    const char* folders[] = {"h2export", "--follow-dir", "/logs", "--follow-dir",
                             "/more",    "--textfile",   "/"};
    ASSERT_EQ(parse_options(7, folders, options = {}, out, err), std::nullopt) << err.str();
    EXPECT_EQ(options.follow_dirs, (std::vector<std::string>{"/logs", "/more"}));
}

TEST(H2exportCommandLine, HelpAndVersion) {
    const ProgramRun help = run_h2export({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* option : {"--follow", "--follow-dir", "--textfile", "--influx", "--state",
                               "--stale-after", "--backfill"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    // Each option with the one placeholder of its value, not the names of the
    // argument library's types and checks.
    for (const char* line : {"\n  --follow NAME=PATH ", "\n  --textfile DIR ",
                             "\n  --influx FILE|- ", "\n  --stale-after SECONDS "}) {
        EXPECT_NE(help.out.find(line), std::string::npos) << line << " in\n" << help.out;
    }
    for (const char* type : {"TEXT", "INT", "FLOAT", "in ["}) {
        EXPECT_EQ(help.out.find(std::string(type) + " "), std::string::npos) << type << " in\n"
                                                                             << help.out;
    }
    const ProgramRun version = run_h2export({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, version_line("h2export") + "\n");
}

} // namespace
} // namespace h2export_test
