// Runs the real h2sim and talks to it through its pseudo-terminal, as h2mon
// does: the line opened raw, five-byte polls written, answers read.
#include "program/version.h"
#include "telemetry/channels.h"
#include "tests/support/process.h"
#include "tests/h2sim/plausible.h"
#include "h2sim/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <numeric>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "tests/support/bytes.h"

namespace {

using namespace std::chrono_literals;
using h2test::Bytes;
using h2test::hex;
using h2test::milliseconds;
using Clock = std::chrono::steady_clock;

// How long to wait for something that should come at once on an idle
// machine: generous, for a loaded one.
constexpr milliseconds kPrompt = 3000ms;

// A recognisable frame for playback: every byte differs from its neighbours.
Bytes test_frame(int salt) {
    Bytes frame(kFrameLength);
    for (int i = 0; i < kFrameLength; ++i) {
        frame[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i * 7 + salt);
    }
    return frame;
}

long elapsed_ms(Clock::time_point from, Clock::time_point to) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(to - from).count());
}

class H2simTest : public ::testing::Test {
protected:
    void TearDown() override { close_line(); }

    // Starts h2sim with `args`, takes the line's path from its first output
    // line and opens the line.
    void start(std::vector<std::string> args) {
        args.insert(args.begin(), H2SIM_PATH);
        std::string error;
        ASSERT_TRUE(sim_.start(args, error)) << error;
        ASSERT_TRUE(sim_.read_stdout_line(path_, kPrompt)) << sim_.read_stderr(100ms);
        ASSERT_NO_FATAL_FAILURE(open_line());
    }

    void open_line() {
        line_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(line_, 0) << path_ << ": " << std::strerror(errno);
        termios settings{};
        ASSERT_EQ(tcgetattr(line_, &settings), 0);
        cfmakeraw(&settings);
        ASSERT_EQ(tcsetattr(line_, TCSANOW, &settings), 0);
    }

    void close_line() {
        if (line_ >= 0) {
            ::close(line_);
            line_ = -1;
        }
    }

    void send(const Bytes& bytes) {
        ASSERT_TRUE(h2test::write_all(line_, bytes.data(), bytes.size()));
    }
    void send_poll() { send(Bytes(std::begin(kPoll), std::end(kPoll))); }

    // Polls and collects the answer up to `count` bytes, or until the line
    // has been quiet for `quiet` after the first byte.
    Bytes poll(std::size_t count = kFrameLength, milliseconds quiet = 300ms,
               milliseconds timeout = kPrompt) {
        send_poll();
        return h2test::read_bytes(line_, count, quiet, timeout);
    }

    // Polls and collects `count` bytes with their arrival times; `polled` is
    // when the poll went out.
    std::vector<h2test::Arrival> timed_poll(Clock::time_point& polled,
                                            std::size_t count = kFrameLength,
                                            milliseconds quiet = 300ms) {
        polled = Clock::now();
        send_poll();
        return h2test::read_arrivals(line_, count, quiet, kPrompt);
    }

    // Stops h2sim with SIGTERM and expects the clean exit.
    void stop() {
        ASSERT_TRUE(sim_.signal(SIGTERM));
        int status = 0;
        ASSERT_TRUE(sim_.wait_exit(status, kPrompt));
        EXPECT_EQ(status, 0) << sim_.read_stderr(100ms);
    }

    std::string frame_file(const std::string& text) {
        const std::string path = dir_.file("frames.txt");
        EXPECT_TRUE(h2test::write_text_file(path, text));
        return path;
    }

    h2test::TempDir dir_;
    h2test::ChildProcess sim_;
    std::string path_;
    int line_ = -1;
};

TEST_F(H2simTest, TheLineIsRawBeforeTheProgramSetsItUp) {
    h2test::ChildProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({H2SIM_PATH}, error)) << error;
    std::string path;
    ASSERT_TRUE(sim.read_stdout_line(path, kPrompt));
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << path;
    termios settings{};
    ASSERT_EQ(tcgetattr(fd, &settings), 0);
    ::close(fd);
    // No echo of the simulator's answers back to it, no line editing, no
    // translation of bytes that happen to be CR, XON or XOFF.
    EXPECT_EQ(settings.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
}

TEST_F(H2simTest, PrintsItsLineFirstAndAnswersEveryPollWithOneFrame) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    EXPECT_TRUE(isatty(line_));
    for (int i = 0; i < 3; ++i) {
        // Exactly one frame: no echo of the poll, nothing after the frame.
        EXPECT_EQ(poll(kFrameLength + 1).size(), static_cast<std::size_t>(kFrameLength));
    }
    // The line outlives the port being closed and opened again.
    close_line();
    ASSERT_NO_FATAL_FAILURE(open_line());
    EXPECT_EQ(poll().size(), static_cast<std::size_t>(kFrameLength));
}

TEST_F(H2simTest, FramesDecodeToAHealthyMasersReadingsThatVary) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    std::vector<Bytes> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(poll());
        ASSERT_EQ(frames.back().size(), static_cast<std::size_t>(kFrameLength));
    }
    for (const Bytes& frame : frames) {
        for (const CHANNEL& channel : kChannels) {
            if (!channel_shown(channel) || channel.scale == 0) {
                continue;
            }
            const PlausibleRange* range = plausible_range(channel.name);
            ASSERT_NE(range, nullptr) << "no plausible range listed for " << channel.name;
            const double value = channel_value(frame.data(), channel);
            EXPECT_GE(value, range->low) << channel.name;
            EXPECT_LE(value, range->high) << channel.name;
        }
    }
    // Reserved bytes and readings change from frame to frame.
    auto differs = [&frames](const char* name) {
        const CHANNEL& row = channel_named(name);
        std::vector<std::string> seen;
        for (const Bytes& frame : frames) {
            char text[2 * kFrameLength + 1];
            channel_hex(frame.data(), row, text);
            seen.push_back(text);
        }
        return std::adjacent_find(seen.begin(), seen.end()) == seen.end();
    };
    EXPECT_TRUE(differs("RsvdDT1"));
    EXPECT_TRUE(differs("AuxFLL3"));
}

TEST_F(H2simTest, AScenarioPlaysOnTheClockAtTheTimeScale) {
    // A day of the story every 0.1 s. The story starts between the test's
    // start and the first answer, so each value lies between the story's
    // values at the earliest and the latest moment it can have been taken.
    constexpr double kScale = kStoryDay / 0.1;
    const Scenario& story = *scenario_named("vacuum-leak");
    const CHANNEL& channel = channel_named(story.channel);
    auto seconds = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double>(to - from).count();
    };
    const Clock::time_point started = Clock::now();
    ASSERT_NO_FATAL_FAILURE(start({"--scenario", "vacuum-leak", "--time-scale", "864000"}));
    const double first = channel_value(poll().data(), channel);
    const Clock::time_point answered = Clock::now();
    EXPECT_GE(first, story_value(story, 0) - channel.scale);
    EXPECT_LE(first, story_value(story, seconds(started, answered) * kScale) + channel.scale);

    std::this_thread::sleep_for(500ms); // five days
    const Clock::time_point polled = Clock::now();
    const double later = channel_value(poll().data(), channel);
    const Clock::time_point now = Clock::now();
    EXPECT_GE(later, story_value(story, seconds(answered, polled) * kScale) - channel.scale);
    EXPECT_LE(later, story_value(story, seconds(started, now) * kScale) + channel.scale);
}

TEST_F(H2simTest, SameSeedGivesSameFramesAndAnotherSeedOthers) {
    auto frames_of = [this](std::vector<std::string> args) {
        start(args);
        std::vector<Bytes> frames{poll(), poll()};
        stop();
        close_line();
        return frames;
    };
    const auto seed7 = frames_of({"--seed", "7"});
    EXPECT_EQ(seed7[0].size(), static_cast<std::size_t>(kFrameLength));
    EXPECT_EQ(frames_of({"--seed", "7"}), seed7);
    EXPECT_NE(frames_of({"--seed", "8"}), seed7);
    EXPECT_EQ(frames_of({}), frames_of({"--seed", "1"})); // 1 is the default
}

TEST_F(H2simTest, PlaysAFrameFileInACycleIncludingLinesThatAreNotFrames) {
    const Bytes a = test_frame(1);
    const Bytes b = test_frame(2);
    std::string lowercase_b = hex(b);
    std::transform(lowercase_b.begin(), lowercase_b.end(), lowercase_b.begin(), ::tolower);
    const std::string file = frame_file("# recorded frames\n" + hex(a) + "  # first\n\n" +
                                        lowercase_b + "\n0A 0B 0c # three bytes\n");
    ASSERT_NO_FATAL_FAILURE(start({"--frames", file}));
    EXPECT_EQ(poll(), a);
    EXPECT_EQ(poll(), b);
    EXPECT_EQ(poll(), (Bytes{0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(poll(), a);
}

// Each fault option alone, on a known frame.
TEST_F(H2simTest, FaultOptionsShapeTheAnswer) {
    const Bytes frame = test_frame(5);
    struct Case {
        const char* option;
        const char* value;
        std::size_t length; // bytes that arrive for the poll
    };
    const Case cases[] = {
        {"--short", "100", 100},
        {"--stray", "3", kFrameLength + 3},
        {"--corrupt", "2", kFrameLength},
        {"--silent", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        std::vector<std::string> args{"--frames", frame_file(hex(frame)), c.option};
        if (c.value != nullptr) {
            args.push_back(c.value);
        }
        ASSERT_NO_FATAL_FAILURE(start(args));
        const Bytes answer = poll(kFrameLength + 10, 300ms, 1000ms);
        ASSERT_EQ(answer.size(), c.length);
        const std::size_t common = std::min(answer.size(), frame.size());
        const auto changed =
            std::inner_product(answer.begin(), answer.begin() + common, frame.begin(), 0,
                               std::plus<>(), std::not_equal_to<>());
        EXPECT_EQ(changed, std::string(c.option) == "--corrupt" ? 2 : 0);
        stop();
        close_line();
    }
}

TEST_F(H2simTest, AnswersEveryPollWhenTheReaderFallsBehind) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    // Far more answers than the line holds: sending waits for room, in order.
    constexpr std::size_t kPolls = 1000;
    for (std::size_t i = 0; i < kPolls; ++i) {
        send_poll();
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(h2test::read_bytes(line_, kPolls * kFrameLength + 1, 500ms, 10000ms).size(),
              kPolls * kFrameLength);
}

TEST_F(H2simTest, FaultsApplyToEveryNthAnswerWhenAskedSo) {
    ASSERT_NO_FATAL_FAILURE(start({"--short", "10@2", "--silent=3"}));
    const std::size_t expected[] = {kFrameLength, 10, 0, 10, kFrameLength, 0};
    for (std::size_t length : expected) {
        EXPECT_EQ(poll(kFrameLength, 300ms, 800ms).size(), length);
    }
}

TEST_F(H2simTest, LateAnswerStartsAfterTheDelay) {
    ASSERT_NO_FATAL_FAILURE(start({"--late", "300"}));
    Clock::time_point polled;
    const auto answer = timed_poll(polled);
    ASSERT_EQ(answer.size(), static_cast<std::size_t>(kFrameLength));
    EXPECT_GE(elapsed_ms(polled, answer.front().when), 290);
}

TEST_F(H2simTest, GapsSplitTheAnswerIntoChunksWithPauses) {
    ASSERT_NO_FATAL_FAILURE(start({"--gaps", "64:150"}));
    Clock::time_point polled;
    const auto answer = timed_poll(polled, kFrameLength, 1000ms);
    ASSERT_EQ(answer.size(), static_cast<std::size_t>(kFrameLength));
    for (std::size_t chunk_start : {64u, 128u}) {
        EXPECT_GE(elapsed_ms(answer[chunk_start - 1].when, answer[chunk_start].when), 140)
            << "before byte " << chunk_start;
        // The last chunk holds 61 bytes: 60 further on is inside every chunk.
        EXPECT_LT(elapsed_ms(answer[chunk_start].when, answer[chunk_start + 60].when), 100)
            << "within the chunk from byte " << chunk_start;
    }
}

TEST_F(H2simTest, NoiseFollowsTheAnswerDetachedFromIt) {
    ASSERT_NO_FATAL_FAILURE(start({"--noise", "4"}));
    Clock::time_point polled;
    const auto answer = timed_poll(polled, kFrameLength + 4, 1000ms);
    ASSERT_EQ(answer.size(), static_cast<std::size_t>(kFrameLength + 4));
    EXPECT_GE(elapsed_ms(answer[kFrameLength - 1].when, answer[kFrameLength].when), 40);
}

TEST_F(H2simTest, ChaosGivesEveryAnswerAFault) {
    const std::string log = dir_.file("chaos.log");
    ASSERT_NO_FATAL_FAILURE(start({"--chaos", "1", "--log", log}));
    for (int i = 0; i < 3; ++i) {
        poll(kFrameLength + 10, 400ms, 2000ms);
    }
    stop();
    std::istringstream lines(h2test::read_text_file(log));
    std::string number, actions;
    int count = 0;
    while (lines >> number >> actions && lines.ignore(1000, '\n')) {
        EXPECT_NE(actions, "full") << "poll " << number;
        ++count;
    }
    EXPECT_EQ(count, 3);
}

TEST_F(H2simTest, ReportsWhatIsNotAPollAndStaysInStepWithThePolls) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    send({0xFF, 0xFE});
    EXPECT_EQ(poll().size(), static_cast<std::size_t>(kFrameLength));
    EXPECT_NE(sim_.read_stderr(kPrompt, "FF FE").find("FF FE"), std::string::npos);

    // A poll cut off and followed by a whole one: the cut-off bytes are the garbage.
    send({0x01, 0x41, 0x00, 0x00});
    EXPECT_EQ(poll(kFrameLength + 1).size(), static_cast<std::size_t>(kFrameLength));
    EXPECT_NE(sim_.read_stderr(kPrompt, "01 41 00 00\n").find("01 41 00 00\n"), std::string::npos);

    // A poll left unfinished is given up after a while and reported.
    send({0x01, 0x41});
    EXPECT_NE(sim_.read_stderr(kPrompt, "01 41\n").find("01 41\n"), std::string::npos);
    EXPECT_EQ(poll().size(), static_cast<std::size_t>(kFrameLength));
}

TEST_F(H2simTest, ClosesTheLineAfterTheGivenNumberOfPolls) {
    ASSERT_NO_FATAL_FAILURE(start({"--close-after", "2"}));
    EXPECT_EQ(poll().size(), static_cast<std::size_t>(kFrameLength));
    EXPECT_EQ(poll().size(), static_cast<std::size_t>(kFrameLength));
    int status = -1;
    ASSERT_TRUE(sim_.wait_exit(status, kPrompt));
    EXPECT_EQ(status, 0);
    // The line is hung up: it reports the hang-up, reads find its end, writes fail.
    pollfd pfd{line_, POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 1000), 1);
    EXPECT_NE(pfd.revents & POLLHUP, 0);
    unsigned char byte = 0;
    EXPECT_EQ(::read(line_, &byte, 1), 0);
    EXPECT_EQ(::write(line_, kPoll, kPollLength), -1);
    EXPECT_EQ(errno, EIO);
}

TEST_F(H2simTest, BaudPacesTheAnswerLikeARealLine) {
    ASSERT_NO_FATAL_FAILURE(start({"--baud", "9600"}));
    Clock::time_point polled;
    const auto answer = timed_poll(polled);
    ASSERT_EQ(answer.size(), static_cast<std::size_t>(kFrameLength));
    // 194 byte times of 1.04 ms from the poll to the last byte: about 202 ms.
    EXPECT_GE(elapsed_ms(polled, answer.back().when), 180);
    EXPECT_LE(elapsed_ms(polled, answer.back().when), 1000);
    // The bytes trickle in rather than arrive in one burst.
    EXPECT_GE(elapsed_ms(answer.front().when, answer[kFrameLength / 2].when), 60);
}

TEST_F(H2simTest, LogTimesSayWhenThePollCameAndTheAnswerWentOut) {
    const std::string log = dir_.file("timed.log");
    ASSERT_NO_FATAL_FAILURE(start({"--baud", "9600", "--log", log, "--log-times"}));
    const auto before =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    Clock::time_point polled;
    ASSERT_EQ(timed_poll(polled).size(), static_cast<std::size_t>(kFrameLength));
    stop();
    std::istringstream line(h2test::read_text_file(log));
    std::string poll, actions, sent, clean, frame;
    long long arrived = 0, first = 0, last = 0;
    ASSERT_TRUE(line >> poll >> actions >> sent >> clean >> frame >> arrived >> first >> last);
    EXPECT_EQ(poll + " " + actions + " " + sent + " " + clean, "1 full 189 clean");
    // The same clock as the test's: the poll came after the test started it.
    EXPECT_GE(arrived, before);
    // The answer follows the poll's five byte times and spans 188 more.
    EXPECT_GE(first - arrived, 4'000'000);
    EXPECT_GE(last - first, 180'000'000);
    EXPECT_LE(last - first, 1'000'000'000);
}

TEST_F(H2simTest, LogsEveryExchangeWithWhatWasSentAndWhetherItWasClean) {
    const Bytes frame = test_frame(9);
    const std::string log = dir_.file("exchanges.log");
    ASSERT_NO_FATAL_FAILURE(
        start({"--frames", frame_file(hex(frame)), "--log", log, "--stray", "2@2", "--silent=3"}));
    for (int i = 0; i < 7; ++i) {
        poll(kFrameLength + 10, 300ms, 800ms);
    }
    stop();
    const std::string f = hex(frame);
    // Stray bytes spoil their own exchange; the reader discards them before its
    // next poll, which comes well after them here.
    EXPECT_EQ(h2test::read_text_file(log),
              "1 full 189 clean " + f + "\n" + "2 stray:2 189 dirty " + f + "\n" +
                  "3 silent 0 dirty " + f + "\n" + "4 stray:2 189 dirty " + f + "\n" +
                  "5 full 189 clean " + f + "\n" + "6 silent 0 dirty " + f + "\n" +
                  "7 full 189 clean " + f + "\n");
}

TEST_F(H2simTest, StopsCleanlyOnASignalAndRemovesItsLink) {
    for (int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(number);
        const std::string link = dir_.file("maser");
        ASSERT_NO_FATAL_FAILURE(start({"--link", link}));
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(path_, target);
        EXPECT_EQ(poll().size(), static_cast<std::size_t>(kFrameLength));
        ASSERT_TRUE(sim_.signal(number));
        int status = -1;
        ASSERT_TRUE(sim_.wait_exit(status, kPrompt));
        EXPECT_EQ(status, 0);
        struct stat ignored {};
        EXPECT_NE(lstat(link.c_str(), &ignored), 0) << "the link is still there";
        close_line();
    }
}

TEST_F(H2simTest, RefusesABadCommandLineOrFrameFile) {
    const std::string odd = frame_file("0102\n123\n");
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--baud", "0"}, "--baud: '0'"},
        {{"--short", "189"}, "--short: '189'"},
        {{"--gaps", "16"}, "--gaps: '16'"},
        {{"--late", "100@0"}, "--late: '100@0'"},
        {{"--chaos", "1.5"}, "--chaos: '1.5'"},
        {{"--scenario", "leak"}, "--scenario: 'leak': expected one of vacuum-leak,"},
        {{"--time-scale", "-1"}, "--time-scale: '-1'"},
        {{"--scenario", "oven-step", "--frames", odd}, "--scenario plays on"},
        {{"--seed"}, "missing value for '--seed'"},
        {{"extra"}, "unexpected argument 'extra'"},
        {{"--frames", odd}, "frames.txt:2: odd number of hexadecimal digits"},
        {{"--frames", dir_.file("absent")}, "absent: cannot be read"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), H2SIM_PATH);
        h2test::ChildProcess sim;
        std::string error;
        ASSERT_TRUE(sim.start(args, error)) << error;
        int status = -1;
        ASSERT_TRUE(sim.wait_exit(status, kPrompt));
        EXPECT_EQ(status, 2) << c.message;
        EXPECT_NE(sim.read_stderr(kPrompt).find(c.message), std::string::npos)
            << sim.read_stderr(0ms);
    }
}

TEST_F(H2simTest, HelpDescribesEveryOptionAndVersionNamesTheProgram) {
    h2test::ChildProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({H2SIM_PATH, "--help"}, error)) << error;
    std::string text, line;
    while (sim.read_stdout_line(line, kPrompt)) {
        text += line + "\n";
    }
    int status = -1;
    ASSERT_TRUE(sim.wait_exit(status, kPrompt));
    EXPECT_EQ(status, 0);
    for (const char* option :
         {"--seed",   "--frames",    "--baud",     "--link",       "--log",       "--close-after",
          "--late",   "--gaps",      "--short",    "--silent",     "--corrupt",   "--stray",
          "--noise",  "--chaos",     "--scenario", "--time-scale", "vacuum-leak", "hydrogen-empty",
          "rail-sag", "signal-drop", "oven-step",  "purifier",     "quiet",       "--write-log",
          "--start",  "--span",      "--interval", "--header",     "--jitter"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
    const h2test::ProgramRun version = h2test::run_program({H2SIM_PATH, "--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, version_line("h2sim") + "\n");
}

} // namespace
