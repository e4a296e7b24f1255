// A log file that cannot be written never costs a record on standard output.
#include "tests/e2e/fixture.h"
#include "tests/e2e/simulator.h"
#include "tests/faults/soak_check.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace e2e {
namespace {

class OutputFaultTest : public E2eTest {};

TEST_F(OutputFaultTest, ALogThatCannotBeWrittenLeavesTheRecordsOnStandardOutput) {
    const std::vector<Bytes> frames = golden_frames();
    const std::string missing = dir_.file("no/such/directory/records.csv");
    const struct {
        const char* what;
        std::string log;
        std::string error; // one line on standard error, naming the file and why
    } cases[] = {
        {"a full disk", "/dev/full",
         "Cannot write to the log file /dev/full: " + std::string(std::strerror(ENOSPC)) + "\n"},
        {"a directory that does not exist", missing,
         "Cannot open the log file " + missing + ": " + std::strerror(ENOENT) +
             "; records go to standard output only\n"},
        {"a directory", dir_.path(),
         "Cannot open the log file " + dir_.path() + ": " + std::strerror(EISDIR) +
             "; records go to standard output only\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Simulator simulator;
        std::string error;
        ASSERT_TRUE(simulator.start({"--frames", golden_path("frames.txt")},
                                    dir_.file("exchanges.log"), error))
            << error;
        auto h2mon = start({port_arg(simulator.path()), "/interval_ms:0", "/out:" + c.log});
        ASSERT_NE(h2mon, nullptr);
        constexpr std::size_t kRecords = 10;
        ASSERT_TRUE(wait_for_lines(*h2mon, 1 + kRecords)) << h2mon->output();
        stop_with_key(*h2mon, c.error);

        const std::vector<std::string> lines = lines_of(h2mon->output());
        ASSERT_GE(lines.size(), 1 + kRecords);
        EXPECT_EQ(lines[0] + "\n", lines_of(golden("csv.txt"))[0] + "\n");
        // Frame 0 is discarded; then the frames of the file in turn.
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_EQ(faults::fields_after_timestamp(lines[i]),
                      faults::csv_fields(frames[i % frames.size()]))
                << "record " << i;
        }
        expect_plausible(mask_mjds(h2mon->output()).mjds);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.file("no")));
}

} // namespace
} // namespace e2e
