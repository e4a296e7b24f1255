// Key tests and stop signals on Linux. Each case runs in a forked child because it
// rewires standard input and installs signal handlers.
#include "h2mon/win32/console_session.h"
#include "tests/support/forked_child.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
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
                      int failed = _kbhit() != 1;
                      failed += _getch() != 'q';
                      for (int i = 0; i < 3; ++i) {
                          failed += _kbhit() != 0;
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
                              failed += _kbhit() != 0;
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

TEST(ConsoleSession, StopSignalsRequestAStopAndEndTheIntervalSleep) {
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(stop);
        EXPECT_EQ(run_in_child(
                      [stop]() -> int {
                          console_session_begin();
                          std::thread([stop] {
                              std::this_thread::sleep_for(std::chrono::milliseconds(200));
                              kill(getpid(), stop);
                          }).detach();
                          const auto start = Clock::now();
                          interval_sleep(60000);
                          int failed = ms_since(start) > 10000;
                          failed += !stop_requested();
                          interval_sleep(60000); // a stopped run sleeps no more
                          std::exit(failed + (ms_since(start) > 10000));
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
        while (_kbhit() == 0 && ms_since(start) < 10000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        failed += _getch() != 'k';
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
