// The serial line at its worst: it goes away in the middle of a frame, or the
// port is already held by another h2mon.
#include "tests/e2e/fixture.h"
#include "tests/e2e/simulator.h"
#include "tests/faults/running_h2mon.h"
#include "tests/faults/soak_check.h"
#include "tests/support/latency_timer.h"

#include <atomic>
#include <cerrno>
#include <regex>
#include <cstring>

namespace e2e {
namespace {

class LineFaultTest : public E2eTest {
protected:
    std::vector<Bytes> frames_ = golden_frames();
};

// A USB adapter pulled while an answer comes in: h2mon holds part of a frame
// when its line hangs up.
TEST_F(LineFaultTest, TheLineGoingAwayInTheMiddleOfAFrameIsAReadError) {
    MaserLine line;
    line.play([this](int poll) {
        const Bytes& frame = frames_[static_cast<std::size_t>(poll - 1)];
        if (poll < 3) {
            return Reply::answer(frame);
        }
        // Hung up once h2mon has read the first 100 bytes and waits for more.
        return Reply::hang_up(Bytes(frame.begin(), frame.begin() + 100));
    });
    auto h2mon = start({port_arg(line.path()), "/fmt:hex", "/interval_ms:0"});
    ASSERT_NE(h2mon, nullptr);
    expect_exit(*h2mon, 1);
    EXPECT_EQ(h2mon->output(), hex(frames_[1]) + "\nRead error on port " +
                                   launcher().port_name(line.path()) + ": " +
                                   launcher().system_text(SystemError::LineGone));
}

TEST_F(LineFaultTest, ASecondH2monOnTheSamePortIsRefusedAfterOneRetry) {
    Simulator simulator;
    std::string error;
    ASSERT_TRUE(
        simulator.start({"--frames", golden_path("frames.txt")}, dir_.file("exchanges.log"), error))
        << error;
    auto first = start({port_arg(simulator.path()), "/fmt:hex", "/interval_ms:100"});
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(wait_for_lines(*first, 1));

    const Clock::time_point started = Clock::now();
    auto second = start({port_arg(simulator.path())});
    ASSERT_NE(second, nullptr);
    expect_exit(*second, 1);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
    // The port's lock refuses access; the text is the system's for that.
    EXPECT_EQ(second->output(), "Error connecting to " + launcher().port_name(simulator.path()) +
                                    ": " + std::strerror(EBUSY) + "\n");
    EXPECT_GE(took.count(), 950) << "no second attempt a second later";

    // The first one goes on undisturbed.
    const std::size_t before = line_count(first->output());
    ASSERT_TRUE(wait_for_lines(*first, before + 2));
    stop_with_key(*first);
    for (const std::string& record : lines_of(first->output())) {
        EXPECT_EQ(record.size(), 2u * 189) << record;
    }
}

// `kill -9 h2mon` while the far end of the line stays open (a network-to-serial
// bridge, the simulator): the next h2mon, as any user, opens the port and records.
TEST_F(LineFaultTest, AKilledH2monLeavesItsPortFreeForTheNext) {
    MaserLine line;
    line.play([this](int poll) {
        return Reply::answer(frames_[static_cast<std::size_t>(poll - 1) % frames_.size()]);
    });
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        faults::RunningH2mon h2mon({"/port:" + line.path(), "/fmt:hex", "/interval_ms:0"});
        ASSERT_TRUE(h2mon.started()) << h2mon.start_error();
        std::string record;
        ASSERT_TRUE(h2mon.next_line(record)) << h2mon.error_output();
        EXPECT_EQ(record.size(), 2u * 189);
        ASSERT_TRUE(h2mon.kill());
        EXPECT_FALSE(line.exclusive()) << "only root could open the port now";
    }
}

// Noise lies in the line before every second answer, and the answer's last
// bytes reach h2mon 30 ms after the others, as a USB adapter with that latency
// timer hands them over: the bytes that h2mon reads first are a frame's length
// of noise and answer, a frame shifted by the noise. Only a quiet check that
// lasts the adapter's latency sees the rest of the answer come. Told a latency
// of 60 ms (room for a late simulator), as the usb-serial driver tells it,
// h2mon prints no shifted frame; taking the line for one that holds nothing
// back, it does.
TEST_F(LineFaultTest, BehindASlowAdapterNoShiftedFrameIsPrinted) {
    if (!h2test::latency_timer_possible()) {
        GTEST_SKIP() << "no user and mount namespace can be made here";
    }
    for (const bool latency_told : {true, false}) {
        SCOPED_TRACE(latency_told ? "latency told" : "latency not told");
        Simulator simulator;
        std::string error;
        ASSERT_TRUE(simulator.start({"--hold-back", "30", "--noise", "3@2"},
                                    dir_.file("exchanges.log"), error))
            << error;
        const std::vector<std::string> runner =
            h2test::with_latency_timer(simulator.path(), latency_told ? 60 : 0);
        ASSERT_FALSE(runner.empty());
        faults::RunningH2mon h2mon({"/port:" + simulator.path(), "/interval_ms:0"}, runner);
        ASSERT_TRUE(h2mon.started()) << h2mon.start_error();
        std::vector<std::string> records;
        std::string line;
        while (records.size() < 12 && h2mon.next_line(line)) {
            records.push_back(line);
        }
        ASSERT_EQ(h2mon.stop_with_key(records), 0) << h2mon.error_output();
        std::vector<faults::LoggedExchange> exchanges;
        ASSERT_TRUE(faults::parse_exchange_log(simulator.stop_and_read_log(), exchanges));
        ASSERT_GE(records.size(), 12u);
        records.erase(records.begin()); // the CSV header
        std::vector<std::vector<std::string>> fields;
        for (const std::string& record : records) {
            fields.push_back(faults::fields_after_timestamp(record));
        }
        const faults::Verdict verdict = faults::judge(exchanges, fields);
        if (latency_told) {
            EXPECT_TRUE(verdict.strays.empty()) << verdict.strays.front();
            EXPECT_GE(verdict.matched, 5u);
        } else {
            EXPECT_FALSE(verdict.strays.empty())
                << "the fault did not show: the test shows nothing";
        }
    }
}

// A maser that stops answering: after the half minute, one line on standard
// error names the port and says since when nothing came; when frames come
// again, one more. Standard output keeps the records only. (Takes half a minute:
// the limit is what is tested.)
TEST_F(LineFaultTest, AMaserThatStopsAnsweringIsNoticedOnStandardErrorAndSoIsItsReturn) {
    MaserLine line;
    std::atomic<bool> answering{true};
    std::atomic<int> silent_from{0};
    line.play([&](int poll) {
        if (!answering) {
            return Reply::silence();
        }
        if (poll >= 3 && silent_from == 0) {
            silent_from = poll;
            answering = false;
            return Reply::silence();
        }
        return Reply::answer(frames_[static_cast<std::size_t>(poll - 1) % frames_.size()]);
    });
    auto h2mon = start({port_arg(line.path()), "/fmt:hex", "/interval_ms:0"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 1)); // the second frame
    // Silent from the third poll on; the notice comes 30 s after the last frame.
    std::this_thread::sleep_for(std::chrono::seconds(32));
    answering = true;
    ASSERT_TRUE(wait_for_lines(*h2mon, 3));
    ASSERT_TRUE(h2mon->press_key('q'));
    int code = -1;
    ASSERT_TRUE(h2mon->wait_exit(code, kPrompt));
    EXPECT_EQ(code, 0);
    for (const std::string& record : lines_of(h2mon->output())) {
        EXPECT_EQ(record.size(), 2u * 189) << record;
    }
    const std::string port = launcher().port_name(line.path());
    const std::string time = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC)";
    EXPECT_TRUE(
        std::regex_match(h2mon->error_output(), std::regex("No frame from " + port + " since " +
                                                           time + ": no answer\nFrames from " +
                                                           port + " again since " + time + "\n")))
        << h2mon->error_output();
}

} // namespace
} // namespace e2e
