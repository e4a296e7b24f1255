// Byte traffic through the read-ahead, on a simulated line and clock: the rules
// that end a timed read, the conveniences built on it, writes, and failures.
#include "serial/comport.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

// The clock starts far from its wrap, or just before it, so that every timing
// rule is also seen across the wrap.
class ComportIoTest : public ::testing::TestWithParam<DWORD> {
protected:
    FakePlatform fake;
    COMPORT port;

    void SetUp() override {
        ASSERT_EQ(port.open("COM3", 9600, true, true, 8), 0u);
        fake.now = GetParam();
        fake.calls.clear();
    }

    struct Result {
        DWORD error;
        std::int32_t count;
        std::string bytes;
        std::int32_t elapsed_ms;
    };

    Result timed_read(std::int32_t count, std::int32_t total, std::int32_t gap,
                      std::int32_t terminator) {
        std::string buffer(count > 0 ? count : 0, '\0');
        const DWORD start = fake.now;
        std::int32_t n = count;
        const DWORD error = port.read(&buffer[0], &n, total, gap, terminator);
        buffer.resize(n > 0 ? n : 0);
        return {error, n, buffer, static_cast<std::int32_t>(fake.now - start)};
    }

    // A byte every `period` ms, the first after `period`, for `duration` ms.
    void stream(DWORD period, DWORD duration) {
        for (DWORD t = period; t <= duration; t += period) {
            fake.arrive(t, "s");
        }
    }
};

INSTANTIATE_TEST_SUITE_P(Clock, ComportIoTest, ::testing::Values(DWORD{5000}, DWORD{0xFFFFFE00u}));

TEST_P(ComportIoTest, FullFrameInOneBurstLeavesTheRestForTheNextRead) {
    const std::string frame(189, 'F');
    fake.arrive(30, frame + "extra");
    const Result r = timed_read(189, 1000, 100, -1);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.count, 189);
    EXPECT_EQ(r.bytes, frame);
    EXPECT_EQ(r.elapsed_ms, 30);
    EXPECT_EQ(timed_read(10, 0, 0, -1).bytes, "extra");
}

TEST_P(ComportIoTest, SilenceEndsTheReadJustAfterTheFirstByteTimeOut) {
    const Result r = timed_read(189, 1000, 100, -1);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.count, 0);
    EXPECT_GT(r.elapsed_ms, 1000);
    EXPECT_LE(r.elapsed_ms, 1010); // at most one empty fetch later
}

TEST_P(ComportIoTest, PartialAnswerEndsAfterTheGapHoweverLateItCame) {
    fake.arrive(950, std::string(150, 'p'));
    const Result r = timed_read(189, 1000, 100, -1);
    EXPECT_EQ(r.count, 150);
    EXPECT_GT(r.elapsed_ms, 950 + 100);
    EXPECT_LE(r.elapsed_ms, 950 + 110);
}

TEST_P(ComportIoTest, SteadyStreamOutlastsAPositiveTotal) {
    stream(100, 189 * 100);
    const Result r = timed_read(189, 1000, 100, -1);
    EXPECT_EQ(r.count, 189);
    EXPECT_EQ(r.elapsed_ms, 189 * 100);
}

TEST_P(ComportIoTest, NegativeTotalBoundsTheWholeRead) {
    stream(50, 2000);
    const Result r = timed_read(189, -500, 100, -1);
    EXPECT_EQ(r.error, 0u);
    EXPECT_GT(r.elapsed_ms, 500);
    EXPECT_LE(r.elapsed_ms, 510);
    EXPECT_EQ(r.count, 10);
}

TEST_P(ComportIoTest, NothingIsReadForACountOfZeroOrLess) {
    fake.arrive(0, "abc");
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        const Result r = timed_read(count, 1000, 100, -1);
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(r.count, 0);
        EXPECT_EQ(r.elapsed_ms, 0);
    }
    EXPECT_TRUE(fake.calls_to("ReadFile").empty());
}

TEST_P(ComportIoTest, TerminatorEndsTheReadRightAfterItIsStored) {
    struct Case {
        std::string line;
        std::int32_t terminator;
        std::string read;
    };
    const Case cases[] = {
        {"AB\rCD\r", 13, "AB\r"},
        {"AB\rCD\r", -1, "AB\rCD\r"},
        {"AB\rCD\r", 256, "AB\rCD\r"}, // no byte matches 256
        {"a\xff"
         "b",
         255, "a\xff"}, // 0xFF is 255, not -1
        {"a\xff"
         "b",
         -1,
         "a\xff"
         "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.terminator);
        fake.arrive(0, c.line);
        EXPECT_EQ(timed_read(64, 1000, 100, c.terminator).bytes, c.read);
        port.drain(0);
    }
}

TEST_P(ComportIoTest, FailedFetchClosesThePortAndLeavesTheCount) {
    fake.arrive(0, "ab");
    fake.fail_next("ReadFile", {0, 0, 1167}); // fails after two fetches (the second empty)
    char buffer[16] = {};
    std::int32_t n = 16;
    EXPECT_EQ(port.read(buffer, &n, 1000, 100, -1), 1167u);
    EXPECT_EQ(n, 16);
    EXPECT_EQ(std::string(buffer), "ab");
    EXPECT_EQ(port.dwLastError, 1167u);
    EXPECT_FALSE(port.isopen());
    EXPECT_EQ(fake.calls_to("CloseHandle"), Calls{"CloseHandle(port)"});
}

TEST_P(ComportIoTest, GetcReportsAFailureWithoutClosing) {
    fake.fail_next("ReadFile", {1167});
    BYTE byte = 7;
    std::int32_t got = 7;
    EXPECT_EQ(port.getc(port.hCOM, &byte, &got), 1167u);
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(got, 7);
    EXPECT_TRUE(port.isopen());

    fake.arrive(0, "xy");
    EXPECT_EQ(port.getc(port.hCOM, &byte, &got), 0u);
    EXPECT_EQ(got, 1);
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(port.nRxBuf, 1);
    EXPECT_EQ(fake.calls_to("ReadFile"), (Calls{"ReadFile(64)", "ReadFile(64)"}));
}

TEST_P(ComportIoTest, ReadcountAndReadbufReportFailuresTheirWay) {
    fake.arrive(0, "12345");
    char buffer[8] = {};
    EXPECT_EQ(port.readcount(buffer, 3, 1000, 100, -1), 3);
    std::int32_t n = 8;
    const BYTE* bytes = port.readbuf(&n, 1000, 100, -1);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 3), std::string("45\0", 3));

    fake.fail_always("ReadFile", 1167);
    EXPECT_EQ(port.readcount(buffer, 3, 1000, 100, -1), -1);
    ASSERT_EQ(port.open("COM3", 9600, true, true, 8), 0u);
    n = 8;
    EXPECT_EQ(port.readbuf(&n, 1000, 100, -1), nullptr);
    EXPECT_FALSE(port.isopen());
}

TEST_P(ComportIoTest, ReadbufAndReadlineLimitTheirCounts) {
    for (std::int32_t asked : {20000, -5}) {
        SCOPED_TRACE(asked);
        fake.arrive(0, std::string(40000, 'b'));
        std::int32_t n = asked;
        ASSERT_NE(port.readbuf(&n, 1000, 100, -1), nullptr);
        EXPECT_EQ(n, 16384);
        EXPECT_EQ(std::string(port.readline(1000, 100, -1, asked)).size(), 16383u);
        port.drain(0);
    }
}

TEST_P(ComportIoTest, ReadlineEndsWithItsTerminator) {
    fake.arrive(5, "OK\nnext");
    EXPECT_STREQ(port.readline(1000, 100, 10, 80), "OK\n");
    EXPECT_STREQ(port.readline(1000, 100, 10, 2), "ne");
}

TEST_P(ComportIoTest, ReadlineAfterAFailedReadHoldsOnlyTheBytesReceived) {
    fake.arrive(0, std::string(40, 'L'));
    ASSERT_EQ(std::string(port.readline(1000, 100, -1, 40)), std::string(40, 'L'));
    fake.arrive(0, "ab");
    fake.fail_next("ReadFile", {0, 0, 1167});
    EXPECT_STREQ(port.readline(1000, 100, -1, 40), "ab");
    EXPECT_FALSE(port.isopen());
}

TEST_P(ComportIoTest, DrainDiscardsForItsTimeAndEmptiesTheReadAhead) {
    EXPECT_EQ(port.drain(200), 0);
    EXPECT_GT(fake.now - GetParam(), 200u);
    EXPECT_LE(fake.now - GetParam(), 210u);

    stream(20, 1000);
    const DWORD start = fake.now;
    EXPECT_EQ(port.drain(200), 10);
    EXPECT_LE(fake.now - start, 210u);
    EXPECT_EQ(port.nRxBuf, 0);
}

TEST_P(ComportIoTest, DrainOfZeroStopsAsSoonAsTheClockMoves) {
    EXPECT_EQ(port.drain(0), 0);
    EXPECT_EQ(fake.now - GetParam(), 10u);
    fake.arrive(0, "abc");
    EXPECT_EQ(port.drain(0), 3);
}

TEST_P(ComportIoTest, DrainAfterAFailedReadCountsWhatItConsumed) {
    fake.arrive(0, "12345");
    fake.fail_next("ReadFile", {0, 0, 1167});
    EXPECT_EQ(port.drain(200), 5);
    EXPECT_FALSE(port.isopen());
}

TEST_P(ComportIoTest, WritesSendTheirBytes) {
    DWORD written = 0;
    EXPECT_EQ(port.write("\x01\x00\x02", 3, &written), 0u);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(port.putc(0x41), 0u);
    EXPECT_EQ(port.puts("text", &written), 0u);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(port.printf("%d-%s", 42, "x"), 0u);
    EXPECT_EQ(fake.written, std::string("\x01\x00\x02", 3) + "Atext42-x");
}

TEST_P(ComportIoTest, PrintfCutsLongOutputAndStopsAtANul) {
    const std::string long_text(5000, 'z');
    EXPECT_EQ(port.printf("%s", long_text.c_str()), 0u);
    EXPECT_EQ(fake.written, std::string(4094, 'z'));
    fake.written.clear();
    EXPECT_EQ(port.printf("a%cb", 0), 0u);
    EXPECT_EQ(fake.written, "a");
}

TEST_P(ComportIoTest, FailedWriteClosesThePortAndReportsWhatWasSent) {
    fake.fail_next("WriteFile", {ERROR_GEN_FAILURE});
    fake.written_on_failure = 2;
    DWORD written = 99;
    EXPECT_EQ(port.write("abcd", 4, &written), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(port.dwLastError, static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_FALSE(port.isopen());
}

TEST_P(ComportIoTest, EveryByteOperationReturnsAtOnceOnAClosedPort) {
    fake.arrive(0, "waiting");
    BYTE byte = 0;
    std::int32_t got = 0;
    ASSERT_EQ(port.getc(port.hCOM, &byte, &got), 0u); // leaves bytes in the read-ahead
    port.close();
    fake.calls.clear();

    std::int32_t n = 10;
    char buffer[10];
    EXPECT_EQ(port.read(buffer, &n, 1000, 100, -1), 0u);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(port.readcount(buffer, 10, 1000, 100, -1), 0);
    n = 10;
    EXPECT_EQ(port.readbuf(&n, 1000, 100, -1), nullptr);
    EXPECT_EQ(n, 10);
    EXPECT_STREQ(port.readline(1000, 100, -1, 10), "");
    EXPECT_EQ(port.drain(200), 0);
    EXPECT_EQ(port.nRxBuf, 6); // drain leaves the read-ahead of a closed port alone
    DWORD written = 99;
    EXPECT_EQ(port.write("ab", 2, &written), 0u);
    EXPECT_EQ(written, 99u);
    EXPECT_EQ(port.putc('a'), 0u);
    EXPECT_EQ(port.puts("ab", &written), 0u);
    EXPECT_EQ(port.printf("%s", "ab"), 0u);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(fake.now, GetParam());
}

} // namespace
