// h2mon writing its records to a console that holds its output, as a terminal
// does after Ctrl+S and a Windows console during Pause or a selection: the
// polls and the log go on, records the console cannot take in time are
// counted, and a stop still ends the run in order.
#include "tests/e2e/fixture.h"

#include <functional>
#include <regex>
#include <thread>

namespace e2e {
namespace {

// Records on the console: lines that start with a CSV record's MJD stamp.
std::size_t records_shown(const std::string& console) {
    static const std::regex stamp(R"(\d{5}\.\d{6},)");
    std::size_t count = 0;
    for (const std::string& line : lines_of(console)) {
        count += std::regex_search(line, stamp) ? 1 : 0;
    }
    return count;
}

class ConsoleTest : public E2eTest {
protected:
    void SetUp() override {
        E2eTest::SetUp();
        line_.play([this](int poll) {
            return Reply::answer(frames_[static_cast<std::size_t>(poll - 1) % frames_.size()]);
        });
        line_settings_ = line_.settings();
    }

    std::size_t log_rows() const { return line_count(launcher().text_file(log_)); }

    // Waits for `done`, taking in what the console shows meanwhile (a console
    // that is not read fills up and holds the writes to it).
    static bool eventually(H2mon& h2mon, const std::function<bool()>& done,
                           milliseconds timeout = kPrompt) {
        const auto deadline = Clock::now() + timeout;
        while (!done()) {
            if (Clock::now() > deadline) {
                return false;
            }
            h2mon.console_output();
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

    // Waits for the run to end while taking in what the console shows, as a
    // terminal goes on reading its device. Linux wakes a writer that found the
    // pseudo-terminal full only when its reader reads, so a reader that stops
    // can hold the program's last records past the end of the run.
    static bool exits_while_shown(H2mon& h2mon, int& code) {
        const auto deadline = Clock::now() + kPrompt;
        while (!h2mon.wait_exit(code, 50ms)) {
            if (Clock::now() > deadline) {
                return false;
            }
            h2mon.console_output();
        }
        return true;
    }

    // After the run: every row of the log reached the console or is among the
    // `counted` ones. What the program wrote last can still be on its way
    // through the terminal after it has gone, so this waits for it a while.
    bool all_shown_or_counted(H2mon& h2mon, std::size_t counted) const {
        const std::size_t rows = log_rows();
        eventually(h2mon, [&] { return records_shown(h2mon.console_output()) + counted >= rows; });
        return records_shown(h2mon.console_output()) + counted == rows;
    }

    // Starts h2mon on the console with the log; returns once the console has
    // shown a record.
    std::unique_ptr<H2mon> start_on_console(int interval_ms) {
        auto h2mon = start(
            {port_arg(line_.path()), "/out:" + log_, "/interval_ms:" + std::to_string(interval_ms)},
            Input::Pipe, Output::Console);
        if (h2mon != nullptr) {
            EXPECT_TRUE(eventually(*h2mon, [&] {
                return records_shown(h2mon->console_output()) > 0;
            })) << h2mon->console_output();
        }
        return h2mon;
    }

    std::vector<Bytes> frames_ = golden_frames();
    MaserLine line_;
    termios line_settings_{};
    std::string log_ = dir_.file("console.csv");
};

TEST_F(ConsoleTest, EveryRecordReachesTheConsoleBeforeTheRunEnds) {
    E2E_REQUIRE(ConsoleOutput);
    auto h2mon = start_on_console(0);
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(eventually(*h2mon, [&] { return log_rows() >= 10; }));
    ASSERT_TRUE(h2mon->press_key('q'));
    int code = -1;
    ASSERT_TRUE(exits_while_shown(*h2mon, code));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(all_shown_or_counted(*h2mon, 0)) << h2mon->console_output();
}

TEST_F(ConsoleTest, AConsoleThatHoldsItsOutputHoldsNeitherThePollsNorTheLog) {
    E2E_REQUIRE(HeldConsole);
    auto h2mon = start_on_console(0);
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(h2mon->hold_console(true));
    const std::size_t held_at = log_rows();
    // More records than the console's share can hold back while it waits.
    EXPECT_TRUE(eventually(
        *h2mon, [&] { return log_rows() >= held_at + 100; }, 30000ms))
        << "the log stopped at " << log_rows() << " rows, " << held_at << " when the console held";
    ASSERT_TRUE(h2mon->hold_console(false));

    // Once the console goes on, standard error says how many records it missed.
    const std::regex missed(
        R"((\d+) records were not shown on the console while it held its output)");
    std::smatch found;
    std::string notices;
    EXPECT_TRUE(eventually(*h2mon, [&] {
        notices = h2mon->error_output();
        return std::regex_search(notices, found, missed);
    })) << notices;
    ASSERT_TRUE(h2mon->press_key('q'));
    int code = -1;
    ASSERT_TRUE(exits_while_shown(*h2mon, code));
    EXPECT_EQ(code, 0);

    // Every record of the log either reached the console or was counted.
    std::size_t counted = 0;
    notices = h2mon->error_output();
    for (std::sregex_iterator it(notices.begin(), notices.end(), missed), end; it != end; ++it) {
        counted += std::stoul((*it)[1]);
    }
    EXPECT_GT(counted, 0u);
    EXPECT_TRUE(all_shown_or_counted(*h2mon, counted))
        << log_rows() << " rows in the log, " << held_at << " when the console held; "
        << records_shown(h2mon->console_output()) << " shown; " << notices
        << "the console showed:\n"
        << h2mon->console_output();
    expect_same_line_settings(line_.settings(), line_settings_);
}

TEST_F(ConsoleTest, AStopWhileTheConsoleHoldsItsOutputEndsTheRunInOrder) {
    E2E_REQUIRE(HeldConsole);
    auto h2mon = start_on_console(100);
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(h2mon->hold_console(true));
    const std::size_t held_at = log_rows();
    ASSERT_TRUE(eventually(*h2mon, [&] { return log_rows() >= held_at + 3; }));

    const auto pressed = Clock::now();
    ASSERT_TRUE(h2mon->press_key('q'));
    int code = -1;
    EXPECT_TRUE(h2mon->wait_exit(code, kPrompt));
    EXPECT_EQ(code, 0);
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(Clock::now() - pressed).count(), 2500);
    expect_same_line_settings(line_.settings(), line_settings_);
    h2mon->hold_console(false);
}

} // namespace
} // namespace e2e
