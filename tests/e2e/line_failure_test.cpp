// The line goes away: a read or a write that fails ends h2mon with its message
// and exit code 1, after every record received before it.
#include "tests/e2e/fixture.h"
#include "tests/e2e/simulator.h"

namespace e2e {
namespace {

class LineFailureTest : public E2eTest {
protected:
    std::string failure(const char* direction, const std::string& device_path,
                        SystemError error = SystemError::LineGone) {
        return std::string(direction) + " error on port " + launcher().port_name(device_path) +
               ": " + launcher().system_text(error);
    }

    std::vector<Bytes> frames_ = golden_frames();
};

// The line hangs up once h2mon has read the first bytes of the third answer, so
// while it waits for the rest: never while it may still be writing the poll.
TEST_F(LineFailureTest, AHangUpWhileWaitingForTheAnswerIsAReadError) {
    E2E_REQUIRE(ReadFailsOnHangUp);
    MaserLine line;
    line.play([this](int poll) {
        const Bytes& frame = frames_[static_cast<std::size_t>(poll - 1)];
        return poll < 3 ? Reply::answer(frame)
                        : Reply::hang_up(Bytes(frame.begin(), frame.begin() + 20));
    });
    auto h2mon = start({port_arg(line.path()), "/fmt:hex", "/interval_ms:200"});
    ASSERT_NE(h2mon, nullptr);
    expect_exit(*h2mon, 1);
    EXPECT_EQ(h2mon->output(), hex(frames_[1]) + "\n" + failure("Read", line.path()));
}

TEST_F(LineFailureTest, AHangUpDuringTheIntervalIsAReadErrorBeforeTheNextPoll) {
    E2E_REQUIRE(ReadFailsOnHangUp);
    Simulator simulator;
    std::string error;
    // The simulator hangs up once h2mon has taken the third answer.
    ASSERT_TRUE(simulator.start({"--frames", golden_path("frames.txt"), "--close-after", "3"},
                                dir_.file("exchanges.log"), error))
        << error;
    auto h2mon = start({port_arg(simulator.path()), "/fmt:hex", "/interval_ms:1000"});
    ASSERT_NE(h2mon, nullptr);
    expect_exit(*h2mon, 1);
    EXPECT_EQ(h2mon->output(),
              hex(frames_[1]) + "\n" + hex(frames_[2]) + "\n" + failure("Read", simulator.path()));
}

TEST_F(LineFailureTest, APollTheLineHoldsOffIsAWriteErrorWithinABoundedTime) {
    MaserLine line;
    // Before the second answer the line stops taking bytes from h2mon, as a
    // device holding off its sender does: the next poll's first byte waits, and
    // its write times out.
    line.play([this, &line](int poll) {
        Reply reply = Reply::answer(frames_[static_cast<std::size_t>(poll - 1) % 3]);
        if (poll == 2) {
            reply.before_answer = [&line] { line.hold_output(); };
        }
        return reply;
    });
    auto h2mon = start({port_arg(line.path()), "/fmt:hex", "/interval_ms:100"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 1));
    const auto printed = Clock::now();
    expect_exit(*h2mon, 1);
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(Clock::now() - printed).count(), 1500);
    EXPECT_EQ(line.exchanges().size(), 2u);
    EXPECT_EQ(h2mon->output(),
              hex(frames_[1]) + "\n" + failure("Write", line.path(), SystemError::WriteTimedOut));
}

} // namespace
} // namespace e2e
