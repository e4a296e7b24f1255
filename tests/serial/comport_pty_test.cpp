// The port on a real pseudo-terminal: the test plays the maser at the master end.
// Times are real; the bounds leave room for a loaded machine.
#include "serial/comport.h"

#include "tests/support/pseudo_terminal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <termios.h>

namespace {

using Clock = std::chrono::steady_clock;

// Scheduling slack for a loaded two-core machine.
constexpr int kSlackMs = 400;

int ms_since(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

bool same_settings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

class ComportPtyTest : public ::testing::Test {
protected:
    PseudoTerminal maser;
    COMPORT port;
    std::vector<std::thread> senders;

    void SetUp() override { ASSERT_EQ(port.open(maser.path().c_str(), 9600, true, true, 8), 0u); }
    void TearDown() override {
        for (std::thread& sender : senders) {
            sender.join();
        }
    }

    // The maser sends `bytes` after `delay_ms`.
    void send_after(int delay_ms, std::string bytes) {
        senders.emplace_back([this, delay_ms, bytes] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            maser.send(bytes);
        });
    }

    // The maser sends one byte every `period_ms`, `count` times.
    void stream(int period_ms, int count) {
        senders.emplace_back([this, period_ms, count] {
            const Clock::time_point start = Clock::now();
            for (int i = 1; i <= count; ++i) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(i * period_ms));
                maser.send("s");
            }
        });
    }

    struct Result {
        DWORD error;
        std::int32_t count;
        std::string bytes;
        int elapsed_ms;
    };

    Result timed_read(std::int32_t count, std::int32_t total, std::int32_t gap,
                      std::int32_t terminator) {
        std::string buffer(count > 0 ? count : 0, '\0');
        std::int32_t n = count;
        const Clock::time_point start = Clock::now();
        const DWORD error = port.read(&buffer[0], &n, total, gap, terminator);
        const int elapsed = ms_since(start);
        buffer.resize(n > 0 && n <= count ? n : 0);
        return {error, n, buffer, elapsed};
    }
};

TEST_F(ComportPtyTest, FullFrameComesInOneReadAndTheRestWaits) {
    const std::string frame(189, '\xA5');
    maser.send(frame + "tail");
    const Result r = timed_read(189, 1000, 100, -1);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.count, 189);
    EXPECT_EQ(r.bytes, frame);
    EXPECT_LT(r.elapsed_ms, kSlackMs);
    EXPECT_EQ(timed_read(10, 200, 50, -1).bytes, "tail");
}

TEST_F(ComportPtyTest, SilenceEndsTheReadAfterTheTotal) {
    const Result r = timed_read(189, 1000, 100, -1);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.count, 0);
    EXPECT_GE(r.elapsed_ms, 995);
    EXPECT_LT(r.elapsed_ms, 1000 + kSlackMs);
}

TEST_F(ComportPtyTest, PartialAnswerEndsOneGapAfterItsLastByte) {
    send_after(300, std::string(150, 'p'));
    const Result r = timed_read(189, 1000, 100, -1);
    EXPECT_EQ(r.count, 150);
    EXPECT_GE(r.elapsed_ms, 300 + 95);
    EXPECT_LT(r.elapsed_ms, 300 + 100 + kSlackMs);
}

TEST_F(ComportPtyTest, SteadyStreamOutlastsAPositiveTotal) {
    stream(40, 25);
    const Result r = timed_read(25, 300, 200, -1);
    EXPECT_EQ(r.count, 25);
    EXPECT_GE(r.elapsed_ms, 25 * 40 - 20);
}

TEST_F(ComportPtyTest, NegativeTotalBoundsTheWholeRead) {
    stream(40, 40);
    const Result r = timed_read(100, -500, 200, -1);
    EXPECT_EQ(r.error, 0u);
    EXPECT_GE(r.elapsed_ms, 495);
    EXPECT_LT(r.elapsed_ms, 500 + kSlackMs);
    EXPECT_GE(r.count, 1);
    EXPECT_LE(r.count, 13); // 500 ms of a byte every 40 ms, and no more
}

TEST_F(ComportPtyTest, CountOfZeroOrLessReadsNothing) {
    maser.send("abc");
    ASSERT_TRUE(maser.wait_for_input(3));
    for (std::int32_t count : {0, -1}) {
        const Result r = timed_read(count, 1000, 100, -1);
        EXPECT_EQ(r.count, 0);
        EXPECT_LT(r.elapsed_ms, 50);
    }
    EXPECT_EQ(timed_read(3, 200, 50, -1).bytes, "abc");
}

TEST_F(ComportPtyTest, TerminatorsIncludingByte255) {
    struct Case {
        std::string line;
        std::int32_t terminator;
        std::string read;
    };
    const Case cases[] = {
        {"AB\rCD", 13, "AB\r"},
        {"x\xffy", 255, "x\xff"},
        {"x\xffy", -1, "x\xffy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.terminator);
        maser.send(c.line);
        EXPECT_EQ(timed_read(10, 500, 100, c.terminator).bytes, c.read);
        port.drain(50);
    }
}

TEST_F(ComportPtyTest, DrainTakesItsTimeAndCountsWhatCame) {
    Clock::time_point start = Clock::now();
    EXPECT_EQ(port.drain(200), 0);
    EXPECT_GE(ms_since(start), 195);
    EXPECT_LT(ms_since(start), 200 + kSlackMs);

    stream(20, 30);
    start = Clock::now();
    const std::int32_t drained = port.drain(200);
    EXPECT_GE(drained, 1);
    EXPECT_LE(drained, 11); // 200 ms of a byte every 20 ms, and no more
    EXPECT_LT(ms_since(start), 200 + kSlackMs);
    EXPECT_EQ(port.nRxBuf, 0);
}

TEST_F(ComportPtyTest, ReadlineAndReadbufOnTheLine) {
    maser.send("OK\nrest");
    EXPECT_STREQ(port.readline(1000, 100, 10, 80), "OK\n");
    port.drain(50);

    senders.emplace_back([this] { maser.send(std::string(40000, 'b')); });
    std::int32_t n = 20000;
    ASSERT_NE(port.readbuf(&n, 1000, 500, -1), nullptr);
    EXPECT_EQ(n, 16384);
    EXPECT_EQ(std::strlen(port.readline(1000, 500, -1, -5)), 16383u);
    while (port.drain(200) > 0) {
        // the rest, so that the sender can finish
    }
}

TEST_F(ComportPtyTest, WritesReachTheOtherEnd) {
    DWORD written = 0;
    EXPECT_EQ(port.write("\x01\x00", 2, &written), 0u);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(port.putc(0x41), 0u);
    EXPECT_EQ(port.puts("poll", nullptr), 0u);
    EXPECT_EQ(port.printf("%03d", 7), 0u);
    EXPECT_EQ(maser.receive(10, 1000), std::string("\x01\x00", 2) + "Apoll007");

    EXPECT_EQ(port.printf("%s", std::string(5000, 'z').c_str()), 0u);
    EXPECT_EQ(maser.receive(5000, 1000), std::string(4094, 'z'));
}

TEST_F(ComportPtyTest, ClosedPortDoesNothingAndReturnsAtOnce) {
    port.close();
    const Clock::time_point start = Clock::now();
    std::int32_t n = 10;
    char buffer[10];
    EXPECT_EQ(port.read(buffer, &n, 1000, 100, -1), 0u);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(port.readcount(buffer, 10, 1000, 100, -1), 0);
    EXPECT_EQ(port.readbuf(&n, 1000, 100, -1), nullptr);
    EXPECT_STREQ(port.readline(1000, 100, -1, 10), "");
    EXPECT_EQ(port.drain(200), 0);
    DWORD written = 99;
    EXPECT_EQ(port.write("ab", 2, &written), 0u);
    EXPECT_EQ(written, 99u);
    EXPECT_EQ(port.putc('a'), 0u);
    EXPECT_EQ(port.puts("ab", &written), 0u);
    EXPECT_EQ(port.printf("%s", "ab"), 0u);
    EXPECT_LT(ms_since(start), 50);
    EXPECT_EQ(maser.receive(1, 100), "");
}

TEST_F(ComportPtyTest, CloseRestoresTheLineSettingsExactly) {
    port.close();
    termios own = maser.settings();
    ASSERT_EQ(port.open(maser.path().c_str(), 57600, true, true, 7), 0u);
    EXPECT_FALSE(same_settings(maser.settings(), own));
    port.close();
    EXPECT_TRUE(same_settings(maser.settings(), own));
}

TEST_F(ComportPtyTest, ModeStringSetsTheLineOnAFirstOpen) {
    port.close();
    COMPORT fresh;
    const std::string name = maser.path() + ":baud=4800 parity=E data=7 stop=2";
    ASSERT_EQ(fresh.open(name.c_str(), 115200, true, true, 8), 0u);
    EXPECT_STREQ(fresh.szPath, maser.path().c_str());
    // A pseudo-terminal keeps the speed and stop bits it is given (not its data
    // bits or parity): they are the mode string's, not the arguments'.
    const termios line = maser.settings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B4800));
    EXPECT_NE(line.c_cflag & CSTOPB, 0u);
}

TEST_F(ComportPtyTest, PortIsOpenedForExclusiveUse) {
    COMPORT other;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(other.open(maser.path().c_str(), 9600, true, true, 8),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_GE(ms_since(start), 995); // one retry after a second
    EXPECT_FALSE(other.isopen());
    EXPECT_EQ(port.putc('k'), 0u);
    EXPECT_EQ(maser.receive(1, 1000), "k");
}

TEST_F(ComportPtyTest, ReadFailsAndClosesWhenTheOtherEndGoesAway) {
    maser.close_master();
    std::int32_t n = 189;
    char frame[189];
    const DWORD error = port.read(frame, &n, 1000, 100, -1);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(n, 189);
    EXPECT_FALSE(port.isopen());
    EXPECT_EQ(port.dwLastError, error);
    EXPECT_STRNE(port.errortext(0, true), "Hosed");
}

} // namespace
