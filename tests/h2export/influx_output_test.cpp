// The line protocol output in process: what a stop between writing a batch
// and saving its positions leaves, and a state file that is not one.
#include "h2export/influx.h"
#include "tests/h2export/log_fixture.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

namespace h2export_test {
namespace {

// The record of `row`; its fields refer into the row, which must outlive it.
LogRecord record_of(const std::string& row) {
    LogRecord record;
    EXPECT_EQ(read_log_line(std::string_view(row).substr(0, row.size() - 1),
                            RecordTimes(2000000000LL * 1000000000LL), record),
              LineKind::kRecord);
    return record;
}

TEST(InfluxOutput, AStopBeforeThePositionsAreSavedCutsTheBatchOffAtTheRestart) {
    h2test::TempDir dir;
    const std::string output = dir.file("points.lp");
    const std::string state = dir.file("points.lp.state");
    const std::string rows[] = {random_row(mjd_text(1.7e9), 1),
                                random_row(mjd_text(1.7e9 + 10), 2)};
    const LogRecord first = record_of(rows[0]);
    const LogRecord second = record_of(rows[1]);
    const LogPosition after_first{FileId{}, 100};
    std::string error;
    {
        InfluxOutput influx(output, state);
        ASSERT_TRUE(influx.open(error)) << error;
        influx.add("a", first);
        influx.consumed("a", after_first);
        ASSERT_TRUE(influx.commit(error)) << error;
    }
    const std::string committed = h2test::read_text_file(output);
    std::string expected;
    append_influx_point(expected, "a", first);
    EXPECT_EQ(committed, expected);
    // The next batch reached the file, its positions never reached the state.
    std::string unsaved;
    append_influx_point(unsaved, "a", second);
    append_file(output, unsaved);

    InfluxOutput restarted(output, state);
    ASSERT_TRUE(restarted.open(error)) << error;
    EXPECT_EQ(h2test::read_text_file(output), committed);
    const std::optional<LogPosition> resume = restarted.resume_position("a");
    ASSERT_TRUE(resume);
    EXPECT_EQ(resume->offset, after_first.offset);
}

TEST(InfluxOutput, AStateFileThatIsNoneIsRefusedNamingIt) {
    h2test::TempDir dir;
    h2test::write_text_file(dir.file("points.lp.state"), "not a state\n");
    InfluxOutput influx(dir.file("points.lp"), dir.file("points.lp.state"));
    std::string error;
    EXPECT_FALSE(influx.open(error));
    EXPECT_NE(error.find("points.lp.state: not a state file"), std::string::npos) << error;
}

} // namespace
} // namespace h2export_test
