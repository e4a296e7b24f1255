// The exchange with the maser: the poll's bytes, the first frame discarded,
// short answers, stale bytes in the line, a maser that does not answer.
#include "tests/e2e/fixture.h"
#include "tests/e2e/simulator.h"

namespace e2e {
namespace {

long ms_between(Clock::time_point from, Clock::time_point to) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(to - from).count());
}

Bytes repeated(const Bytes& bytes, std::size_t times) {
    Bytes all;
    for (std::size_t i = 0; i < times; ++i) {
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
}

class ExchangeTest : public E2eTest {
protected:
    std::vector<Bytes> frames_ = golden_frames();
    MaserLine line_;
};

TEST_F(ExchangeTest, EveryPollIsTheFiveBytesAndTheFirstFrameIsDiscardedWithoutAWait) {
    line_.play([this](int poll) { return Reply::answer(frames_[(poll - 1) % 3]); });
    auto h2mon = start({port_arg(line_.path()), "/fmt:hex", "/interval_ms:2000"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 2));
    stop_with_key(*h2mon);

    // Frame 1 answered the first poll and is not shown; the key came in the sleep
    // after the second record, so there was no fourth poll.
    EXPECT_EQ(h2mon->output(), hex(frames_[1]) + "\n" + hex(frames_[2]) + "\n");
    const std::vector<Exchange> exchanges = line_.exchanges();
    ASSERT_EQ(exchanges.size(), 3u);
    EXPECT_EQ(line_.received(), repeated(kPollBytes, 3))
        << "nothing but polls, nothing between them";
    // After the discarded frame the next poll follows at once; after a record,
    // after the reading interval.
    EXPECT_LT(ms_between(exchanges[0].answered, exchanges[1].first_byte), 1000);
    EXPECT_GE(ms_between(exchanges[1].answered, exchanges[2].first_byte), 2000);
}

// Linux ports start with XON/XOFF on; a mode string that does not name flow
// control must not leave it on, or the line would take the frame's XON and XOFF
// bytes for itself.
TEST_F(ExchangeTest, AModeStringOpenLeavesNoFlowControlOnFromThePort) {
    line_.change_settings(distinctive_line_settings(line_.settings()));
    const termios before = line_.settings();
    std::vector<Bytes> frames = frames_;
    for (Bytes& frame : frames) {
        for (std::size_t i = 0; i < frame.size(); i += 7) {
            frame[i] = i % 2 == 0 ? 0x11 : 0x13;
        }
    }
    line_.play([&frames](int poll) { return Reply::answer(frames[(poll - 1) % 3]); });
    auto h2mon =
        start({"/port=" + launcher().port_name(line_.path()) + ":baud=9600 parity=N data=8 stop=1",
               "/fmt:hex", "/interval_ms:0"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 2));
    stop_with_key(*h2mon);

    const std::vector<std::string> records = lines_of(h2mon->output());
    ASSERT_GE(records.size(), 2u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i], hex(frames[(i + 1) % 3])) << "record " << i;
    }
    expect_same_line_settings(line_.settings(), before);
}

TEST_F(ExchangeTest, AShortAnswerIsDrainedAndPolledAgainAtOnceWithoutARecord) {
    line_.play([this](int poll) {
        Bytes answer = frames_[(poll - 1) % 3];
        if (poll == 2) {
            answer.pop_back(); // 188 bytes
        }
        return Reply::answer(answer);
    });
    auto h2mon = start({port_arg(line_.path()), "/fmt:hex", "/interval_ms:2000"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 1));
    stop_with_key(*h2mon);

    EXPECT_EQ(h2mon->output(), hex(frames_[2]) + "\n");
    const std::vector<Exchange> exchanges = line_.exchanges();
    ASSERT_EQ(exchanges.size(), 3u);
    EXPECT_EQ(line_.received(), repeated(kPollBytes, 3));
    // The read ends 100 ms after the short answer's last byte, the drain takes
    // 200 ms, and the next poll goes out at once: not after the reading interval.
    const long gap = ms_between(exchanges[1].answered, exchanges[2].first_byte);
    EXPECT_GE(gap, 295);
    EXPECT_LT(gap, 1500);
}

TEST_F(ExchangeTest, StrayBytesSpoilTheAnswerTheyFollowAndNeverShiftAFrame) {
    Simulator simulator;
    std::string error;
    // Three bytes right after every second answer: that answer runs long and is
    // no frame. Two more bytes 50 ms after every third answer, lying in the line
    // during the reading interval: discarded before the next poll.
    ASSERT_TRUE(
        simulator.start({"--frames", golden_path("frames.txt"), "--stray", "3@2", "--noise", "2@3"},
                        dir_.file("exchanges.log"), error))
        << error;
    auto h2mon = start({port_arg(simulator.path()), "/fmt:hex", "/interval_ms:300"});
    ASSERT_NE(h2mon, nullptr);
    constexpr std::size_t kRecords = 5;
    ASSERT_TRUE(wait_for_lines(*h2mon, kRecords, 10000ms)) << h2mon->output();
    stop_with_key(*h2mon);

    // Poll 1 is the discarded first frame; then the answers to polls 3, 5, 7, ...
    // are printed, in turn, none shifted by the bytes around them.
    const std::vector<std::string> records = lines_of(h2mon->output());
    const std::vector<std::string> log = simulator.stop_and_read_log();
    ASSERT_GE(records.size(), kRecords);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i], hex(frames_[(2 + 2 * i) % 3])) << "record " << i << "\nexchanges:\n"
                                                             << ::testing::PrintToString(log);
    }
}

TEST_F(ExchangeTest, ASilentMaserGetsAPollEveryExchangeTimeAndNoOutputOrBusyWaiting) {
    E2E_REQUIRE(CpuTime);
    line_.play([](int) { return Reply::silence(); });
    auto h2mon = start({port_arg(line_.path()), "/interval_ms:0"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(line_.wait_for_polls(1, kPrompt));
    const double cpu_before = h2mon->cpu_seconds();
    ASSERT_TRUE(line_.wait_for_polls(4, kPrompt));
    const double cpu_used = h2mon->cpu_seconds() - cpu_before;
    stop_with_key(*h2mon);

    EXPECT_EQ(h2mon->output(), lines_of(golden("csv.txt"))[0] + "\n");
    // Three cycles of 1000 ms waiting for an answer and a 200 ms drain.
    EXPECT_LT(cpu_used, 0.3) << "seconds of processor time while waiting 3.6 s";
    const std::vector<Exchange> exchanges = line_.exchanges();
    for (std::size_t i = 1; i < exchanges.size(); ++i) {
        // Measured where the test reads the line: 1200 ms less its own delays.
        EXPECT_GE(ms_between(exchanges[i - 1].polled, exchanges[i].first_byte), 1100)
            << "poll " << i + 1;
    }
    EXPECT_EQ(line_.received(), repeated(kPollBytes, exchanges.size()));
}

} // namespace
} // namespace e2e
