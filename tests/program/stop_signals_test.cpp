// Stop requests in process: each stop signal is noted, held pending instead
// of ending the process, and wakes a wait on the descriptor.
#include "program/stop_signals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

// Takes the pending signal `number` away, so that the next case starts clean.
void consume(int number) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    const timespec none{};
    EXPECT_EQ(sigtimedwait(&set, nullptr, &none), number);
}

TEST(StopSignals, EachStopSignalIsNotedAndWakesTheDescriptor) {
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        const StopSignals stops;
        std::string error;
        ASSERT_TRUE(stops.ok(error)) << error;
        EXPECT_FALSE(stops.requested()) << number;
        ASSERT_EQ(std::raise(number), 0);
        EXPECT_TRUE(stops.requested()) << number;
        // Noted, not taken: it stays so.
        EXPECT_TRUE(stops.requested()) << number;
        pollfd pfd{stops.fd(), POLLIN, 0};
        EXPECT_EQ(::poll(&pfd, 1, 1000), 1) << number;
        consume(number);
    }
}

TEST(StopSignals, AWaitEndsAtAStopFromAnyThreadAndOtherwiseLastsItsTime) {
    using Clock = std::chrono::steady_clock;
    const StopSignals stops;
    const auto start = Clock::now();
    EXPECT_FALSE(stops.wait(std::chrono::milliseconds(100)));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));

    // Sent once the wait has begun (or before: it is then over at once).
    std::thread sender([] { ::kill(::getpid(), SIGTERM); });
    EXPECT_TRUE(stops.wait(std::chrono::hours(1)));
    sender.join();
    consume(SIGTERM);
}

} // namespace
