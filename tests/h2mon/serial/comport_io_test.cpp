// Byte traffic through the read-ahead on a simulated line and clock: the shared
// scenarios (line_scenarios_test.cpp) with exact times, and failures.
#include "h2mon/serial/comport.h"

#include "fake_platform.h"
#include "line_scenarios.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
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
};

INSTANTIATE_TEST_SUITE_P(Clock, ComportIoTest, ::testing::Values(DWORD{5000}, DWORD{0xFFFFFE00u}));

// The shared scenarios on the simulated line, with the clock far from its wrap
// and just before it.
class SimulatedLine : public ScenarioLine {
public:
    explicit SimulatedLine(DWORD clock) {
        EXPECT_EQ(port_.open("COM3", 9600, true, true, 8), 0u);
        fake_.now = clock;
    }
    COMPORT& port() override { return port_; }
    void play(const std::vector<Arrival>& arrivals) override {
        start_ = fake_.now;
        for (const Arrival& a : arrivals) {
            fake_.arrive(static_cast<DWORD>(a.at_ms), a.bytes);
        }
    }
    int elapsed_ms() override { return static_cast<int>(fake_.now - start_); }
    std::string received(std::size_t) override { return std::exchange(fake_.written, {}); }
    bool exact() const override { return true; }

private:
    FakePlatform fake_;
    COMPORT port_;
    DWORD start_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Clock, LineScenarios, ::testing::Values(5000u, 0xFFFFFE00u));

TEST_P(ComportIoTest, NothingIsFetchedForACountOfZeroOrLess) {
    fake.arrive(0, "abc");
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        EXPECT_EQ(timed_read(count, 1000, 100, -1).count, 0);
    }
    EXPECT_TRUE(fake.calls_to("ReadFile").empty());
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

TEST_P(ComportIoTest, ReadlineAfterAFailedReadHoldsOnlyTheBytesReceived) {
    fake.arrive(0, std::string(40, 'L'));
    ASSERT_EQ(std::string(port.readline(1000, 100, -1, 40)), std::string(40, 'L'));
    fake.arrive(0, "ab");
    fake.fail_next("ReadFile", {0, 0, 1167});
    EXPECT_STREQ(port.readline(1000, 100, -1, 40), "ab");
    EXPECT_FALSE(port.isopen());
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

TEST_P(ComportIoTest, AFailedOrCutShortWriteClosesThePortAndReportsWhatWasSent) {
    struct Case {
        const char* what;
        DWORD failure; // WriteFile fails with this error (0: it succeeds)
        DWORD takes;   // the most bytes the line takes
        DWORD error;   // what write returns
        DWORD written;
    };
    const Case cases[] = {
        {"WriteFile fails", ERROR_GEN_FAILURE, 2, ERROR_GEN_FAILURE, 2},
        {"the write time-out passes with bytes held off", 0, 1, ERROR_TIMEOUT, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePlatform line;
        COMPORT p;
        ASSERT_EQ(p.open("COM1", 9600, true, true, 8), 0u);
        if (c.failure != 0) {
            line.fail_next("WriteFile", {c.failure});
        }
        line.written_on_failure = c.takes;
        line.write_takes = c.takes;
        DWORD written = 99;
        EXPECT_EQ(p.write("abcd", 4, &written), c.error);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(p.dwLastError, c.error);
        EXPECT_FALSE(p.isopen());
    }
}

// The quiet check is one fetch with the port's read time-out set to its own
// length, and the port's 10 ms time-out back afterwards, or a failure that
// closes the port.
TEST_P(ComportIoTest, QuietForWaitsOneFetchOfItsOwnLength) {
    struct Case {
        const char* what;
        bool byte_waiting; // in the read-ahead already
        DWORD byte_at_ms;  // 0: none comes
        bool quiet;
        DWORD elapsed_ms;
    };
    const Case cases[] = {
        {"a quiet line", false, 0, true, 21},
        {"a byte within it", false, 20, false, 20},
        {"a byte just after it", false, 22, true, 21},
        {"a byte in the read-ahead", true, 0, false, 0},
    };
    const Calls one_fetch = {"SetCommTimeouts(0xffffffff, 0xffffffff, 21, 10, 500)", "ReadFile(64)",
                             "SetCommTimeouts(0xffffffff, 0xffffffff, 10, 10, 500)"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        port.rxBuf[0] = 'x';
        port.nRxBuf = c.byte_waiting ? 1 : 0;
        fake.line.clear();
        if (c.byte_at_ms != 0) {
            fake.arrive(c.byte_at_ms, "y");
        }
        fake.calls.clear();
        const DWORD start = fake.now;
        bool quiet = !c.quiet;
        EXPECT_EQ(port.quiet_for(21, &quiet), 0u);
        EXPECT_EQ(quiet, c.quiet);
        EXPECT_EQ(fake.now - start, c.elapsed_ms);
        EXPECT_EQ(fake.calls, c.byte_waiting ? Calls{} : one_fetch);
    }

    port.nRxBuf = 0;
    fake.fail_next("SetCommTimeouts", {ERROR_GEN_FAILURE});
    bool quiet = true;
    EXPECT_EQ(port.quiet_for(21, &quiet), static_cast<DWORD>(ERROR_GEN_FAILURE));
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

std::unique_ptr<ScenarioLine> make_scenario_line(std::uint32_t clock) {
    return std::make_unique<SimulatedLine>(clock);
}
