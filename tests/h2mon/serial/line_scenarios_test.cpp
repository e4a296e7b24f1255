#include "line_scenarios.h"

#include <climits>
#include <cstring>

namespace {

constexpr int kFetchMs = 10;  // the simulated clock's step for an empty fetch
constexpr int kSlackMs = 400; // scheduling on a loaded two-core machine
constexpr int kAtOnceMs = 50; // "at once" on a real line
constexpr int kEarlyMs = 20;  // how early a real sender's byte or timer may fire

// `count` bytes `byte`, one every `period_ms`, the first after one period.
std::vector<Arrival> stream(int period_ms, int count) {
    std::vector<Arrival> arrivals;
    for (int i = 1; i <= count; ++i) {
        arrivals.push_back({i * period_ms, "s"});
    }
    return arrivals;
}

std::string sent(const std::vector<Arrival>& arrivals) {
    std::string bytes;
    for (const Arrival& a : arrivals) {
        bytes += a.bytes;
    }
    return bytes;
}

// When an operation ends: at `ms` exactly (it ended on a byte, or at once), or
// just after `ms` (it ended on a time-out).
struct End {
    int ms;
    bool on_time_out;
};

void expect_end(const ScenarioLine& line, int elapsed, End end) {
    if (line.exact()) {
        if (end.on_time_out) {
            EXPECT_GT(elapsed, end.ms);
            EXPECT_LE(elapsed, end.ms + kFetchMs); // at most one empty fetch later
        } else {
            EXPECT_EQ(elapsed, end.ms);
        }
        return;
    }
    EXPECT_GE(elapsed, end.ms - (end.on_time_out ? 5 : kEarlyMs));
    EXPECT_LT(elapsed, end.ms + (end.ms == 0 ? kAtOnceMs : kSlackMs));
}

// `got` is `expected`; on a real line a stream cut off by a time may have
// delivered fewer bytes, or one more, of what was sent.
void expect_bytes(const ScenarioLine& line, const std::string& got, const std::string& expected,
                  bool cut_by_time, const std::string& all_sent) {
    if (line.exact() || !cut_by_time) {
        EXPECT_EQ(got, expected);
        return;
    }
    EXPECT_FALSE(got.empty());
    EXPECT_LE(got.size(), expected.size() + 1);
    EXPECT_EQ(all_sent.compare(0, got.size(), got), 0);
}

std::string timed_read(COMPORT& port, std::int32_t count, std::int32_t total, std::int32_t gap,
                       std::int32_t terminator, DWORD* error = nullptr) {
    std::string buffer(count > 0 ? count : 0, '\0');
    std::int32_t n = count;
    const DWORD result = port.read(&buffer[0], &n, total, gap, terminator);
    if (error != nullptr) {
        *error = result;
    }
    buffer.resize(n > 0 && n <= count ? n : 0);
    return buffer;
}

struct ReadCase {
    const char* name;
    std::vector<Arrival> arrivals;
    std::int32_t count, total, gap, terminator;
    std::string bytes;
    End end;
    std::string rest = "";    // what a following read returns
    bool cut_by_time = false; // a stream that a time limit cuts off
};

TEST_P(LineScenarios, TimedReadsEndByTheirRules) {
    const std::string frame(189, '\xA5');
    const ReadCase cases[] = {
        {"full frame in one burst, the rest left for the next read",
         {{30, frame + "tail"}},
         189,
         1000,
         100,
         -1,
         frame,
         {30, false},
         "tail"},
        {"silence ends the read just after the first-byte time-out",
         {},
         189,
         1000,
         100,
         -1,
         "",
         {1000, true}},
        {"partial answer ends one gap after its last byte",
         {{300, std::string(150, 'p')}},
         189,
         1000,
         100,
         -1,
         std::string(150, 'p'),
         {400, true}},
        {"however late it came",
         {{950, std::string(150, 'p')}},
         189,
         1000,
         100,
         -1,
         std::string(150, 'p'),
         {1050, true}},
        {"a steady stream outlasts a positive total",
         stream(40, 25),
         25,
         300,
         200,
         -1,
         std::string(25, 's'),
         {1000, false}},
        {"a negative total bounds the whole read",
         stream(50, 40),
         100,
         -500,
         100,
         -1,
         std::string(10, 's'),
         {500, true},
         "",
         true},
        {"count 0 reads nothing", {{0, "abc"}}, 0, 1000, 100, -1, "", {0, false}, "abc"},
        {"count -1 reads nothing", {{0, "abc"}}, -1, 1000, 100, -1, "", {0, false}, "abc"},
        {"the lowest count reads nothing",
         {{0, "abc"}},
         INT32_MIN,
         1000,
         100,
         -1,
         "",
         {0, false},
         "abc"},
        {"a terminator ends the read right after it is stored",
         {{0, "AB\rCD\r"}},
         64,
         1000,
         100,
         13,
         "AB\r",
         {0, false},
         "CD\r"},
        {"-1 is no terminator", {{0, "AB\rCD\r"}}, 64, 1000, 100, -1, "AB\rCD\r", {100, true}},
        {"no byte matches 256", {{0, "AB\rCD\r"}}, 64, 1000, 100, 256, "AB\rCD\r", {100, true}},
        {"0xFF is terminator 255",
         {{0, "a\xff"
              "b"}},
         64,
         1000,
         100,
         255,
         "a\xff",
         {0, false},
         "b"},
        {"0xFF is not -1",
         {{0, "a\xff"
              "b"}},
         64,
         1000,
         100,
         -1,
         "a\xff"
         "b",
         {100, true}},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<ScenarioLine> line = make_scenario_line(GetParam());
        line->play(c.arrivals);
        DWORD error = 1;
        const std::string got =
            timed_read(line->port(), c.count, c.total, c.gap, c.terminator, &error);
        const int elapsed = line->elapsed_ms();
        EXPECT_EQ(error, 0u);
        expect_bytes(*line, got, c.bytes, c.cut_by_time, sent(c.arrivals));
        expect_end(*line, elapsed, c.end);
        if (!c.rest.empty()) {
            EXPECT_EQ(timed_read(line->port(), 10, 200, 50, -1), c.rest);
        }
    }
}

TEST_P(LineScenarios, DrainDiscardsForItsTimeAndEmptiesTheReadAhead) {
    struct Case {
        const char* name;
        std::vector<Arrival> arrivals;
        std::int32_t drained;
    };
    const Case cases[] = {
        {"a quiet line", {}, 0},
        {"a byte every 20 ms", stream(20, 50), 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<ScenarioLine> line = make_scenario_line(GetParam());
        line->play(c.arrivals);
        const std::int32_t drained = line->port().drain(200);
        expect_end(*line, line->elapsed_ms(), {200, true});
        if (line->exact() || c.drained == 0) {
            EXPECT_EQ(drained, c.drained);
        } else {
            EXPECT_GE(drained, 1);
            EXPECT_LE(drained, c.drained + 1);
        }
        EXPECT_EQ(line->port().nRxBuf, 0);
    }
}

TEST_P(LineScenarios, ReadlineAndReadbufEndAtTheirTerminatorAndLimit) {
    const std::unique_ptr<ScenarioLine> line = make_scenario_line(GetParam());
    COMPORT& port = line->port();
    line->play({{5, "OK\nnext"}});
    EXPECT_STREQ(port.readline(1000, 100, 10, 80), "OK\n");
    EXPECT_STREQ(port.readline(1000, 100, 10, 2), "ne");
    port.drain(50);

    for (std::int32_t asked : {20000, -5}) {
        SCOPED_TRACE(asked);
        line->play({{0, std::string(40000, 'b')}});
        std::int32_t n = asked;
        ASSERT_NE(port.readbuf(&n, 1000, 500, -1), nullptr);
        EXPECT_EQ(n, 16384);
        EXPECT_EQ(std::strlen(port.readline(1000, 500, -1, asked)), 16383u);
        while (port.drain(200) > 0) {
            // the rest, so that the far end can finish sending
        }
    }
}

TEST_P(LineScenarios, WritesReachTheFarEnd) {
    const std::unique_ptr<ScenarioLine> line = make_scenario_line(GetParam());
    COMPORT& port = line->port();
    DWORD written = 0;
    EXPECT_EQ(port.write("\x01\x00\x02", 3, &written), 0u);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(port.putc(0x41), 0u);
    EXPECT_EQ(port.puts("text", &written), 0u);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(port.printf("%d-%s", 42, "x"), 0u);
    EXPECT_EQ(line->received(12), std::string("\x01\x00\x02", 3) + "Atext42-x");

    // printf cuts long output, and a NUL ends it.
    EXPECT_EQ(port.printf("%s", std::string(5000, 'z').c_str()), 0u);
    EXPECT_EQ(line->received(5000), std::string(4094, 'z'));
    EXPECT_EQ(port.printf("a%cb", 0), 0u);
    EXPECT_EQ(line->received(2), "a");
}

} // namespace
