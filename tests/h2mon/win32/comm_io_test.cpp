// Byte traffic of serial ports on real pseudo-terminals: reads timed by the
// port's time-outs, writes, hang-ups, purging and the control lines; and what
// is not emulated.
// Timings allow for a loaded machine: lower bounds are tight, upper ones generous.
#include "h2mon/win32/win32.h"
#include "h2mon/win32/posix/errno_map.h"
#include "tests/support/forked_child.h"
#include "tests/support/pseudo_terminal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What the serial port class sets: return the bytes waiting, or wait at most
// 10 ms for the next one.
constexpr COMMTIMEOUTS kPortTimeouts{MAXDWORD, MAXDWORD, 10, 0, 0};

double elapsed_ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class CommIo : public ::testing::Test {
protected:
    void SetUp() override {
        port = CreateFileA(pty.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = 9600;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        ASSERT_TRUE(SetCommState(port, &dcb));
        use_timeouts(kPortTimeouts);
    }
    void TearDown() override {
        if (later.joinable()) {
            later.join();
        }
        CloseHandle(port);
    }

    void use_timeouts(COMMTIMEOUTS timeouts) { ASSERT_TRUE(SetCommTimeouts(port, &timeouts)); }

    // Sends bytes from the far end after a pause, while the test reads.
    void send_later(int delay_ms, const std::string& bytes) {
        later = std::thread([this, delay_ms, bytes] {
            std::this_thread::sleep_for(milliseconds(delay_ms));
            pty.send(bytes);
        });
    }

    // One ReadFile of up to `count` bytes; the result and the bytes read.
    BOOL read(DWORD count, std::string& bytes) {
        std::string buffer(count, '\0');
        DWORD got = 12345;
        const BOOL ok = ReadFile(port, &buffer[0], count, &got, nullptr);
        bytes = buffer.substr(0, got);
        return ok;
    }

    PseudoTerminal pty;
    HANDLE port = INVALID_HANDLE_VALUE;
    std::thread later;
};

TEST_F(CommIo, WaitingBytesComeBackAtOnce) {
    use_timeouts({MAXDWORD, MAXDWORD, 1000, 0, 0});
    pty.send("hello");
    ASSERT_TRUE(pty.wait_for_input(5));

    std::string bytes;
    const auto start = Clock::now();
    EXPECT_TRUE(read(64, bytes));
    EXPECT_LT(elapsed_ms(start), 500); // not the 1000 ms a first byte may take
    EXPECT_EQ(bytes, "hello");
}

TEST_F(CommIo, QuietLineReturnsNothingAfterAboutTenMilliseconds) {
    for (int i = 0; i < 5; ++i) {
        std::string bytes;
        const auto start = Clock::now();
        EXPECT_TRUE(read(64, bytes));
        const double ms = elapsed_ms(start);
        EXPECT_GE(ms, 9.0);
        EXPECT_LT(ms, 500.0);
        EXPECT_EQ(bytes, "");
    }
}

TEST_F(CommIo, FirstByteEndsTheWait) {
    use_timeouts({MAXDWORD, MAXDWORD, 2000, 0, 0});
    send_later(50, "x");
    std::string bytes;
    const auto start = Clock::now();
    EXPECT_TRUE(read(64, bytes));
    const double ms = elapsed_ms(start);
    EXPECT_EQ(bytes, "x");
    EXPECT_GE(ms, 40.0);
    EXPECT_LT(ms, 1500.0);
}

TEST_F(CommIo, ReadsTakeALongAnswerInSixtyFourByteSteps) {
    std::string frame;
    for (int i = 0; i < 189; ++i) {
        frame += static_cast<char>(i);
    }
    pty.send(frame);
    ASSERT_TRUE(pty.wait_for_input(frame.size()));

    std::string received;
    std::string bytes;
    for (std::size_t expected : {64u, 64u, 61u, 0u}) {
        ASSERT_TRUE(read(64, bytes));
        EXPECT_EQ(bytes.size(), expected);
        received += bytes;
    }
    EXPECT_EQ(received, frame);
}

std::atomic<int> signals_seen{0};

void count_signal(int) {
    ++signals_seen;
}

TEST_F(CommIo, SignalDuringTheWaitIsNoFailure) {
    struct sigaction action {};
    action.sa_handler = count_signal; // no SA_RESTART: the wait sees EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    signals_seen = 0;

    use_timeouts({MAXDWORD, MAXDWORD, 2000, 0, 0});
    const pthread_t reader = pthread_self();
    later = std::thread([this, reader] {
        std::this_thread::sleep_for(milliseconds(30));
        pthread_kill(reader, SIGUSR1);
        std::this_thread::sleep_for(milliseconds(30));
        pty.send("x");
    });
    std::string bytes;
    EXPECT_TRUE(read(64, bytes));
    EXPECT_EQ(bytes, "x");
    EXPECT_EQ(signals_seen, 1);
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST_F(CommIo, LineWhoseFarEndWentAwayIsAReadFailure) {
    pty.close_master();
    for (int i = 0; i < 3; ++i) {
        std::string bytes;
        SetLastError(0);
        EXPECT_FALSE(read(64, bytes));
        EXPECT_NE(GetLastError(), 0u);
        EXPECT_EQ(bytes, "");
    }
    // Even a read that would wait a minute must end at once: no spinning on
    // empty reads.
    use_timeouts({MAXDWORD, MAXDWORD, 60000, 0, 0});
    const int status = run_in_child(
        [this] {
            std::string bytes;
            return read(64, bytes) ? 1 : 0;
        },
        5000);
    EXPECT_EQ(status, 0);
}

TEST_F(CommIo, WritesReachTheFarEndWhateverTheirSize) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, "\x01\x41\x00\x00\x00", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(pty.receive(5, 1000), std::string("\x01\x41\x00\x00\x00", 5));

    // Far more than the system buffers: the write waits until all is taken.
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7);
    }
    std::string arrived;
    later = std::thread([&] { arrived = pty.receive(big.size(), 10000); });
    ASSERT_TRUE(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
    EXPECT_EQ(written, big.size());
    later.join();
    EXPECT_TRUE(arrived == big);
}

TEST_F(CommIo, WriteToALineWhoseFarEndWentAwayFails) {
    pty.close_master();
    DWORD written = 99;
    SetLastError(0);
    EXPECT_FALSE(WriteFile(port, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), LINUX_ERRNO_FLAG | EIO);
    EXPECT_EQ(written, 0u);
}

TEST_F(CommIo, SuspendedOutputHoldsWritesUntilResumed) {
    use_timeouts({MAXDWORD, MAXDWORD, 10, 0, 100});
    ASSERT_TRUE(pty.hold_output(true));
    DWORD written = 99;
    const auto start = Clock::now();
    EXPECT_TRUE(WriteFile(port, "abc", 3, &written, nullptr)); // a time-out is no error
    EXPECT_GE(elapsed_ms(start), 95.0);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(pty.receive(3, 50), "");

    ASSERT_TRUE(pty.hold_output(false));
    EXPECT_TRUE(WriteFile(port, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(pty.receive(3, 1000), "abc");
}

TEST_F(CommIo, PurgeDropsWaitingInput) {
    pty.send("stale bytes");
    ASSERT_TRUE(pty.wait_for_input(11));
    EXPECT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
    std::string bytes;
    EXPECT_TRUE(read(64, bytes));
    EXPECT_EQ(bytes, "");

    pty.send("more");
    ASSERT_TRUE(pty.wait_for_input(4));
    EXPECT_TRUE(PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    EXPECT_TRUE(read(64, bytes));
    EXPECT_EQ(bytes, "");

    EXPECT_FALSE(PurgeComm(port, 0x10));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(CommIo, ControlLinesOnALineWithoutModemLines) {
    for (DWORD function : {SETRTS, CLRRTS, SETDTR, CLRDTR}) {
        SetLastError(0);
        EXPECT_FALSE(EscapeCommFunction(port, function)) << function;
        EXPECT_EQ(GetLastError(), LINUX_ERRNO_FLAG | ENOTTY) << function;
    }
}

// Only what the serial port class and the programs use is emulated; for the
// rest the caller is told so, with the system's text.
TEST_F(CommIo, WhatNoProgramUsesIsNotSupported) {
    struct Case {
        const char* what;
        std::function<BOOL()> call;
    };
    const auto timeouts = [this](COMMTIMEOUTS t) { return SetCommTimeouts(port, &t); };
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    GUID guid{};
    DWORD count = 7;
    const Case cases[] = {
        {"XOFF", [&] { return EscapeCommFunction(port, SETXOFF); }},
        {"XON", [&] { return EscapeCommFunction(port, SETXON); }},
        {"a break", [&] { return EscapeCommFunction(port, SETBREAK); }},
        {"reads that return at once",
         [&] {
             return timeouts({MAXDWORD, 0, 0, 0, 0});
         }},
        {"reads without time-outs",
         [&] {
             return timeouts({0, 0, 0, 0, 0});
         }},
        {"reads with an interval time-out",
         [&] {
             return timeouts({30, 0, 0, 0, 0});
         }},
        {"reads with a total time-out",
         [&] {
             return timeouts({0, 10, 100, 0, 0});
         }},
        {"the port list", [&] { return SetupDiClassGuidsFromNameA("Ports", &guid, 1, &count); }},
        {"a device of it", [&] { return SetupDiEnumDeviceInfo(nullptr, 0, &device); }},
        {"a port marker",
         [&] { return CreateSemaphoreA(nullptr, 0, 1, "COM3") == nullptr ? FALSE : TRUE; }},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED)) << c.what;
    }
    EXPECT_EQ(count, 0u);
    // The port keeps the time-outs it had: reads wait 10 ms for a byte.
    std::string bytes;
    const auto start = Clock::now();
    EXPECT_TRUE(read(64, bytes));
    EXPECT_GE(elapsed_ms(start), 9.0);
}

TEST_F(CommIo, ByteOperationsRefuseAHandleThatIsNoPort) {
    char byte = 0;
    DWORD count = 99;
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(nullptr, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
