// Key tests and stop signals on Linux. Each case runs in a forked child because it
// rewires standard input and installs signal handlers.
#include "h2mon/io/console_session.h"
#include "tests/support/forked_child.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a loaded machine; a hang still ends the case.
constexpr int kChildTimeoutMs = 30000;

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(ConsoleSession, ByteOnPipedInputIsOneKeyAndEndOfInputIsNone) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "q", 1), 1);
    close(fds[1]);
    EXPECT_EQ(run_in_child(
                  []() -> int {
                      console_session_begin();
                      int failed = !key_waiting();
                      failed += take_key() != 'q';
                      for (int i = 0; i < 3; ++i) {
                          failed += key_waiting();
                      }
                      std::exit(failed); // exit: the terminal mode goes back
                  },
                  kChildTimeoutMs, fds[0]),
              0);
    close(fds[0]);
}

TEST(ConsoleSession, EmptyInputNeverCountsAsAKeyAndNeverBlocks) {
    const int null_fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(null_fd, 0);
    int open_pipe[2];
    ASSERT_EQ(pipe(open_pipe), 0); // nothing written, writer kept open: no data yet
    for (int fd : {null_fd, open_pipe[0]}) {
        EXPECT_EQ(run_in_child(
                      []() -> int {
                          console_session_begin();
                          const auto start = Clock::now();
                          int failed = 0;
                          for (int i = 0; i < 1000; ++i) {
                              failed += key_waiting();
                          }
                          std::exit(failed + (ms_since(start) > 2000));
                      },
                      kChildTimeoutMs, fd),
                  0);
    }
    close(null_fd);
    close(open_pipe[0]);
    close(open_pipe[1]);
}

// The signal comes while another thread runs, as the console writer's does:
// that thread never runs a handler for it (one that wrote the stop on it would
// race with the sleep that reads it), and the sleep ends at once.
TEST(ConsoleSession, StopSignalsEndTheIntervalSleepAndInterruptNoOtherThread) {
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(stop);
        EXPECT_EQ(run_in_child(
                      [stop]() -> int {
                          console_session_begin();
                          std::atomic<bool> held_back{false};
                          std::thread([stop, &held_back] {
                              sigset_t mask;
                              pthread_sigmask(SIG_BLOCK, nullptr, &mask);
                              held_back = sigismember(&mask, stop) == 1;
                              std::this_thread::sleep_for(std::chrono::milliseconds(200));
                              kill(getpid(), stop);
                          }).detach();
                          const auto start = Clock::now();
                          interval_sleep(60000);
                          int failed = ms_since(start) > 10000;
                          failed += !stop_requested();
                          interval_sleep(60000); // a stopped run sleeps no more
                          failed += ms_since(start) > 10000;
                          std::exit(failed + (held_back ? 0 : 10));
                      },
                      kChildTimeoutMs),
                  0);
    }
}

TEST(ConsoleSession, IntervalSleepLastsItsTimeWithoutASignal) {
    const auto start = Clock::now();
    interval_sleep(150);
    EXPECT_GE(ms_since(start), 150);
}

TEST(ConsoleSession, TerminalGetsSingleKeyModeWithoutEchoAndGetsItsModeBack) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_NE(before.c_lflag & ICANON, 0u);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);

    const pid_t pid = fork();
    if (pid == 0) {
        close(master);
        dup2(slave, STDIN_FILENO);
        setsid();
        if (ioctl(STDIN_FILENO, TIOCSCTTY, 0) != 0) {
            _exit(50);
        }
        console_session_begin();
        termios during{};
        tcgetattr(STDIN_FILENO, &during);
        int failed = (during.c_lflag & (ICANON | ECHO)) != 0;
        (void)!write(ready[1], "r", 1);
        const auto start = Clock::now();
        while (!key_waiting() && ms_since(start) < 10000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        failed += take_key() != 'k';
        std::exit(failed); // the terminal mode goes back at exit
    }
    char r = 0;
    ASSERT_EQ(read(ready[0], &r, 1), 1);
    ASSERT_EQ(write(master, "k", 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    pollfd echo_check{master, POLLIN, 0};
    EXPECT_EQ(poll(&echo_check, 1, 100), 0) << "the key was echoed";
    for (int fd : {master, slave, ready[0], ready[1]}) {
        close(fd);
    }
}

} // namespace
