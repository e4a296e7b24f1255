// The log file while h2mon runs: rotated by rename and deleted under it, every
// row lands whole in the file that had the log's path when it was written.
#include "tests/e2e/fixture.h"
#include "tests/e2e/simulator.h"

#include <cstdio>
#include <unistd.h>

namespace e2e {
namespace {

class LogFileTest : public E2eTest {};

TEST_F(LogFileTest, RenamedAwayOrDeletedTheLogGetsEveryRowOnceWithoutARestart) {
    E2E_REQUIRE(LogRenamedWhileOpen);
    Simulator simulator;
    std::string error;
    ASSERT_TRUE(simulator.start({}, dir_.file("exchanges.log"), error)) << error;
    const std::string log = dir_.file("maser.csv");
    auto h2mon = start({port_arg(simulator.path()), "/interval_ms:20", "/out:" + log});
    ASSERT_NE(h2mon, nullptr);

    // The header, then a few records before each change and after the last.
    std::size_t lines = 1;
    const auto records_go_on = [&] {
        lines += 3;
        return wait_for_lines(*h2mon, lines);
    };
    ASSERT_TRUE(records_go_on());
    // Log rotation: renamed, as logrotate does without copytruncate.
    ASSERT_EQ(std::rename(log.c_str(), (log + ".1").c_str()), 0);
    ASSERT_TRUE(records_go_on());
    // Deleted (a second name kept, to see which rows it got).
    ASSERT_EQ(::link(log.c_str(), (log + ".deleted").c_str()), 0);
    ASSERT_EQ(::unlink(log.c_str()), 0);
    ASSERT_TRUE(records_go_on());
    stop_with_key(*h2mon);

    std::vector<std::string> records = unstamped_rows(h2mon->output());
    records.erase(records.begin()); // the header
    std::vector<std::string> logged;
    std::vector<std::size_t> per_file;
    for (const char* suffix : {".1", ".deleted", ""}) {
        const std::vector<std::string> rows = unstamped_rows(launcher().text_file(log + suffix));
        per_file.push_back(rows.size());
        logged.insert(logged.end(), rows.begin(), rows.end());
    }
    EXPECT_EQ(logged, records);
    for (std::size_t rows : per_file) {
        EXPECT_GT(rows, 0u) << "a file got no row";
    }
}

} // namespace
} // namespace e2e
