// A log file that cannot be written never costs a record on standard output,
// and a disk that fills up costs the log only the rows it refused.
#include "tests/e2e/fixture.h"
#include "tests/e2e/simulator.h"
#include "tests/faults/soak_check.h"
#include "tests/support/tmpfs_mount.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <functional>
#include <future>
#include <regex>
#include <sys/wait.h>
#include <thread>

namespace e2e {
namespace {

class OutputFaultTest : public E2eTest {
protected:
    // Waits for `done`, taking in standard output meanwhile (a pipe that is not
    // read fills up and holds the program).
    static bool eventually(H2mon& h2mon, const std::function<bool()>& done) {
        const auto deadline = Clock::now() + kPrompt;
        while (!done()) {
            if (Clock::now() > deadline) {
                return false;
            }
            h2mon.wait_for_output([](const std::string&) { return false; }, 50ms);
        }
        return true;
    }
};

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

// A service manager stops h2mon while the reader of its standard output (the
// journal, a pager) takes nothing: h2mon waits to write a record, and the stop
// ends that wait and the run in order.
TEST_F(OutputFaultTest, AStopEndsTheRunWhileStandardOutputsReaderTakesNothing) {
    const std::vector<Bytes> frames = golden_frames();
    // The maser answers once the pipe of h2mon's standard output is full.
    std::promise<void> filled;
    const std::shared_future<void> pipe_full = filled.get_future().share();
    MaserLine line;
    line.play([&frames, pipe_full](int poll) {
        Reply reply = Reply::answer(frames[static_cast<std::size_t>(poll - 1) % frames.size()]);
        if (poll == 1) {
            reply.before_answer = [pipe_full] { pipe_full.wait_for(kPrompt); };
        }
        return reply;
    });
    h2test::ChildProcess h2mon;
    std::string error;
    ASSERT_TRUE(
        h2mon.start({H2MON_PATH, port_arg(line.path()), "/fmt:hex", "/interval_ms:0"}, error))
        << error;
    // The pipe filled through a writing end of the test's own, until it takes
    // not one byte more.
    const int writer = ::open(("/proc/self/fd/" + std::to_string(h2mon.stdout_fd())).c_str(),
                              O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::string filler(4096, 'x');
    while (::write(writer, filler.data(), filler.size()) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);
    while (::write(writer, filler.data(), 1) > 0) {
    }
    ::close(writer);
    const std::size_t held = h2mon.stdout_unread();
    filled.set_value();

    // The first record is due once the second answer is read.
    ASSERT_TRUE(line.wait_for_polls(2, kPrompt));
    ASSERT_TRUE(h2mon.signal(SIGTERM));
    // Whether it has ended, looked at without reading its output (which would
    // let the write go on).
    const auto ended = [&h2mon] {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(h2mon.pid()), &info,
                        WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == h2mon.pid();
    };
    const auto deadline = Clock::now() + kPrompt;
    while (!ended()) {
        ASSERT_LT(Clock::now(), deadline) << "still waiting for its reader";
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(h2mon.stdout_unread(), held) << "a record went in";
    int code = -1;
    ASSERT_TRUE(h2mon.wait_exit(code, kPrompt));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(line.exchanges().size(), 2u) << "polled on after the stop";
}

// A small tmpfs fills up: the row that finds it full is written only into what
// is left of the log's last page. It is taken off again, so the first row after
// room returns starts a line of its own, and the count of rows missed is exact.
TEST_F(OutputFaultTest, AFullDiskCostsTheLogOnlyTheRowsItRefusedAndGluesNoRowsTogether) {
    if (!h2test::TmpfsMount::allowed()) {
        GTEST_SKIP() << "mounting a small tmpfs (a disk that fills up) needs root";
    }
    constexpr std::size_t kPage = 4096;
    const std::string disk_path = dir_.file("disk");
    std::filesystem::create_directory(disk_path);
    h2test::TmpfsMount disk;
    std::string error;
    ASSERT_TRUE(disk.mount(disk_path, 16 * kPage, error)) << error;
    // Room for a few dozen rows; the rest taken by a file that can be removed.
    const std::string filler = disk_path + "/filler";
    ASSERT_TRUE(h2test::write_text_file(filler, std::string(13 * kPage, 'x')));
    const std::string log = disk_path + "/maser.csv";

    Simulator simulator;
    ASSERT_TRUE(simulator.start({}, dir_.file("exchanges.log"), error)) << error;
    auto h2mon = start({port_arg(simulator.path()), "/interval_ms:20", "/out:" + log});
    ASSERT_NE(h2mon, nullptr);
    const std::string full = "Cannot write to the log file " + log + ": " + std::strerror(ENOSPC);
    ASSERT_TRUE(eventually(*h2mon, [&] {
        return h2mon->error_output().find(full) != std::string::npos;
    })) << h2mon->error_output();
    const std::size_t lines_when_full = line_count(h2mon->output());
    ASSERT_TRUE(wait_for_lines(*h2mon, lines_when_full + 5)); // rows the log misses
    ASSERT_TRUE(std::filesystem::remove(filler));
    const std::regex again("Writing to the log file " + log + " again; (\\d+) rows missed\n");
    std::smatch found;
    std::string notices;
    ASSERT_TRUE(eventually(*h2mon, [&] {
        notices = h2mon->error_output();
        return std::regex_search(notices, found, again);
    })) << notices;
    const std::size_t missed = std::stoul(found[1]);
    ASSERT_TRUE(wait_for_lines(*h2mon, line_count(h2mon->output()) + 3));
    stop_with_key(*h2mon, full + "\n" + found[0].str());

    // The log is the records in order with one run of `missed` left out.
    std::vector<std::string> records = unstamped_rows(h2mon->output());
    records.erase(records.begin()); // the header
    const std::vector<std::string> logged = unstamped_rows(launcher().text_file(log));
    ASSERT_EQ(logged.size() + missed, records.size());
    const std::size_t gap = static_cast<std::size_t>(
        std::mismatch(logged.begin(), logged.end(), records.begin()).first - logged.begin());
    ASSERT_LT(gap, logged.size()) << "no row missing";
    for (std::size_t i = gap; i < logged.size(); ++i) {
        EXPECT_EQ(logged[i], records[i + missed]) << "log row " << i;
    }
}

} // namespace
} // namespace e2e
