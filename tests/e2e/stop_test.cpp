// Ending a run: a key on a stdin pipe or on a terminal, and the stop events
// (signals; on Windows console events and the end of the session); every record
// kept, the port and the terminal put back. Standard input at its end is no key.
#include "tests/e2e/fixture.h"

#include <atomic>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace e2e {
namespace {

// The JSON-like form's alignment padding for one frame, written to the console
// in console mode: 10 columns less each name's length, and 8 columns less the
// digits of each hexadecimal value of fewer than four bytes.
constexpr std::size_t kPaddingPerBlock = 220;

long ms_since(Clock::time_point from) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - from).count());
}

// What the test's end of a terminal has received, read until it is quiet.
std::string terminal_output(int master) {
    std::string text;
    for (const unsigned char byte : h2test::read_bytes(master, 1 << 16, 200ms, 200ms)) {
        text += static_cast<char>(byte);
    }
    return text;
}

// Bytes typed on the terminal that no one has read, once line editing is off.
int unread_keys(int master) {
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios line{};
    tcgetattr(slave, &line);
    line.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    tcsetattr(slave, TCSANOW, &line);
    int waiting = -1;
    ioctl(slave, FIONREAD, &waiting);
    ::close(slave);
    return waiting;
}

void expect_same_terminal_settings(const termios& actual, const termios& expected) {
    EXPECT_EQ(actual.c_lflag, expected.c_lflag);
    EXPECT_EQ(actual.c_iflag, expected.c_iflag);
    EXPECT_EQ(actual.c_cc[VMIN], expected.c_cc[VMIN]);
    EXPECT_EQ(actual.c_cc[VTIME], expected.c_cc[VTIME]);
}

class StopTest : public E2eTest {
protected:
    // The line answers every poll with the golden frames in turn.
    void SetUp() override {
        E2eTest::SetUp();
        line_.change_settings(distinctive_line_settings(line_.settings()));
        line_settings_ = line_.settings();
    }

    Reply frame_for(int poll) const {
        return Reply::answer(frames_[static_cast<std::size_t>(poll - 1) % 3]);
    }

    std::vector<Bytes> frames_ = golden_frames();
    MaserLine line_;
    termios line_settings_{};
};

TEST_F(StopTest, AKeyOnStandardInputEndsTheRunAfterTheIntervalWithoutAnotherPoll) {
    line_.play([this](int poll) { return frame_for(poll); });
    auto h2mon = start({port_arg(line_.path()), "/fmt:hex", "/interval_ms:1500"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 1));
    const auto pressed = Clock::now();
    ASSERT_TRUE(h2mon->press_key('q'));
    expect_exit(*h2mon, 0);

    EXPECT_GE(ms_since(pressed), 1300) << "the interval was cut short";
    EXPECT_EQ(h2mon->output(), hex(frames_[1]) + "\n");
    EXPECT_EQ(line_.exchanges().size(), 2u);
    expect_same_line_settings(line_.settings(), line_settings_);
}

TEST_F(StopTest, AKeyOnTheTerminalIsTakenUnechoedAndTheTerminalIsPutBack) {
    E2E_REQUIRE(TerminalInput);
    line_.play([this](int poll) { return frame_for(poll); });
    auto h2mon =
        start({port_arg(line_.path()), "/fmt:JSON", "/tty", "/interval_ms:1000"}, Input::Terminal);
    ASSERT_NE(h2mon, nullptr);
    const std::string json = golden("json_tty.txt");
    const std::string first_block = json.substr(0, json.find("]\n") + 2);
    ASSERT_TRUE(wait_for_lines(*h2mon, line_count(first_block)));

    termios during{};
    ASSERT_EQ(tcgetattr(h2mon->terminal_master(), &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u) << "not in single-key mode";
    stop_with_key(*h2mon);

    EXPECT_EQ(mask_mjds(h2mon->output()).text, first_block);
    // The padding went to the terminal, and nothing else: no echo of the key.
    EXPECT_EQ(terminal_output(h2mon->terminal_master()), std::string(kPaddingPerBlock, ' '));
    termios after{};
    ASSERT_EQ(tcgetattr(h2mon->terminal_master(), &after), 0);
    expect_same_terminal_settings(after, h2mon->terminal_settings_at_start());
    EXPECT_EQ(unread_keys(h2mon->terminal_master()), 0) << "the key was left for the shell";
}

const char* name_of(StopEvent event) {
    switch (event) {
    case StopEvent::Interrupt:
        return "interrupt";
    case StopEvent::Terminate:
        return "terminate";
    case StopEvent::HangUp:
        return "hang-up";
    case StopEvent::EndSession:
        return "end of session";
    case StopEvent::CloseWindow:
        return "WM_CLOSE";
    }
    return "?";
}

TEST_F(StopTest, EachStopEventEndsTheRunAtOnceKeepingEveryRecord) {
    struct Case {
        StopEvent event;
        bool while_reading; // during the wait for the second answer, else in the interval
    };
    std::vector<Case> cases;
    for (StopEvent event : {StopEvent::Interrupt, StopEvent::Terminate, StopEvent::HangUp,
                            StopEvent::EndSession, StopEvent::CloseWindow}) {
        if (launcher().can_send(event)) {
            cases.push_back({event, false});
            cases.push_back({event, true});
        }
    }
    if (cases.empty()) {
        GTEST_SKIP() << "the launcher can send no stop event";
    }
    const bool on_terminal = launcher().can(Capability::TerminalInput);
    const std::vector<std::string> csv = lines_of(golden("csv.txt"));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(name_of(c.event)) +
                     (c.while_reading ? " while reading" : " in the interval"));
        MaserLine line;
        line.change_settings(line_settings_);
        std::atomic<H2mon*> target{nullptr};
        std::atomic<bool> sent_ok{false};
        Clock::time_point sent; // once the event has reached h2mon
        // Sending may take a while (a helper program under Wine): it must not
        // hold up the answer.
        std::thread sender;
        line.play([&](int poll) {
            Reply reply = frame_for(poll);
            if (poll == 2 && c.while_reading) {
                reply.delay = 300ms;
                reply.before_answer = [&] {
                    sender = std::thread([&] {
                        sent_ok = target.load()->send(c.event);
                        sent = Clock::now();
                    });
                };
            }
            return reply;
        });
        const std::string log = dir_.file("stopped.csv");
        std::remove(log.c_str());
        auto h2mon = start({port_arg(line.path()), "/out:" + log, "/interval_ms:5000"},
                           on_terminal ? Input::Terminal : Input::Pipe);
        ASSERT_NE(h2mon, nullptr);
        target = h2mon.get();
        const bool two_lines = wait_for_lines(*h2mon, 2);
        if (sender.joinable()) {
            sender.join();
        }
        ASSERT_TRUE(two_lines);
        if (!c.while_reading) {
            sent_ok = h2mon->send(c.event);
            sent = Clock::now();
        }
        ASSERT_TRUE(sent_ok);
        expect_exit(*h2mon, 0, 2000ms);
        EXPECT_LT(ms_since(sent), 2500) << "waited for the interval";

        // The record being read when the event came is complete, on standard
        // output and in the log alike; no poll followed.
        const Masked output = mask_mjds(h2mon->output());
        EXPECT_EQ(output.text, csv[0] + "\n" + csv[1] + "\n");
        EXPECT_EQ(mask_mjds(launcher().text_file(log)).text, csv[1] + "\n");
        expect_plausible(output.mjds);
        EXPECT_EQ(line.exchanges().size(), 2u);
        expect_same_line_settings(line.settings(), line_settings_);
        if (on_terminal) {
            termios terminal{};
            ASSERT_EQ(tcgetattr(h2mon->terminal_master(), &terminal), 0);
            expect_same_terminal_settings(terminal, h2mon->terminal_settings_at_start());
        }
    }
}

// The stop events at the first moments of a run: each as soon as the header is
// out (the first exchanges under way), and WM_CLOSE at the first moment h2mon
// has a top-level window at all (taskkill's worst moment: the window the
// system makes for the thread can be listed before h2mon's own). Each ends the
// run in order: exit code 0, the line as found, only whole records.
TEST_F(StopTest, AStopEventAtTheStartOfTheRunEndsItInOrder) {
    enum class When { AfterTheHeader, AtTheFirstWindow };
    struct Case {
        StopEvent event;
        When when;
    };
    std::vector<Case> cases;
    for (StopEvent event : {StopEvent::Interrupt, StopEvent::Terminate, StopEvent::HangUp,
                            StopEvent::EndSession, StopEvent::CloseWindow}) {
        if (launcher().can_send(event)) {
            cases.push_back({event, When::AfterTheHeader});
        }
    }
    if (launcher().can_send(StopEvent::CloseWindow)) {
        for (int run = 0; run < 3; ++run) {
            cases.push_back({StopEvent::CloseWindow, When::AtTheFirstWindow});
        }
    }
    if (cases.empty()) {
        GTEST_SKIP() << "the launcher can send no stop event";
    }
    const std::vector<std::string> csv = lines_of(golden("csv.txt"));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(name_of(c.event)) + (c.when == When::AfterTheHeader
                                                          ? " after the header"
                                                          : " at the first window"));
        MaserLine line;
        line.change_settings(line_settings_);
        line.play([this](int poll) { return frame_for(poll); });
        auto h2mon = start({port_arg(line.path()), "/interval_ms:5000"});
        ASSERT_NE(h2mon, nullptr);
        switch (c.when) {
        case When::AfterTheHeader:
            ASSERT_TRUE(wait_for_lines(*h2mon, 1));
            ASSERT_TRUE(h2mon->send(c.event));
            break;
        case When::AtTheFirstWindow:
            ASSERT_TRUE(h2mon->close_at_first_window());
            break;
        }
        expect_exit(*h2mon, 0);
        const std::string output = mask_mjds(h2mon->output()).text;
        EXPECT_TRUE(output == csv[0] + "\n" || output == csv[0] + "\n" + csv[1] + "\n") << output;
        expect_same_line_settings(line.settings(), line_settings_);
    }
}

// Whatever the line does, a key or a stop signal ends the run within a bound:
// every wait on the line is bounded.
TEST_F(StopTest, AStopEndsTheRunPromptlyWhateverTheLineDoes) {
    // Trickling: a byte every 60 ms from the start, so the line never goes
    // quiet for a poll. Answering in a trickle: after the first poll, a byte
    // every 90 ms, each within the answer's inter-byte time-out, so that the
    // answer's read would take 17 s by its own rules.
    enum class Doing { Streaming, Trickling, AnsweringInATrickle, Silent, HoldingOffOutput };
    struct Case {
        const char* what;
        Doing doing;
        bool key;        // else `event`
        StopEvent event; // with key false
    };
    const Case cases[] = {
        {"streaming, a key", Doing::Streaming, true, StopEvent::Interrupt},
        {"streaming, an interrupt", Doing::Streaming, false, StopEvent::Interrupt},
        {"trickling, a key", Doing::Trickling, true, StopEvent::Interrupt},
        {"trickling, a termination", Doing::Trickling, false, StopEvent::Terminate},
        {"answering in a trickle, a key", Doing::AnsweringInATrickle, true, StopEvent::Interrupt},
        {"answering in a trickle, an interrupt", Doing::AnsweringInATrickle, false,
         StopEvent::Interrupt},
        {"silent, a key", Doing::Silent, true, StopEvent::Interrupt},
        {"silent, an interrupt", Doing::Silent, false, StopEvent::Interrupt},
        {"holding off output, a key", Doing::HoldingOffOutput, true, StopEvent::Interrupt},
        {"holding off output, an interrupt", Doing::HoldingOffOutput, false, StopEvent::Interrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.key && !launcher().can_send(c.event)) {
            continue;
        }
        // A held-off poll ends as a write error after half a second: the key
        // must come within it, which a key typed by a helper program that has
        // yet to start cannot be relied on to do.
        if (c.key && c.doing == Doing::HoldingOffOutput && !launcher().can(Capability::KeyAtOnce)) {
            continue;
        }
        MaserLine line;
        line.change_settings(line_settings_);
        std::string expected_output;
        if (c.doing == Doing::Streaming) {
            line.stream_noise(std::chrono::microseconds(500));
        } else if (c.doing == Doing::Trickling) {
            line.stream_noise(std::chrono::milliseconds(60));
        }
        line.play([&](int poll) {
            if (c.doing == Doing::AnsweringInATrickle && poll == 1) {
                Reply reply = Reply::answer({});
                reply.before_answer = [&line] { line.stream_noise(90ms); };
                return reply;
            }
            if (c.doing != Doing::HoldingOffOutput) {
                return Reply::silence();
            }
            // After the second answer the next poll is held off.
            Reply reply = frame_for(poll);
            if (poll == 2) {
                reply.before_answer = [&line] { line.hold_output(); };
            }
            return reply;
        });
        auto h2mon = start({port_arg(line.path()), "/fmt:hex", "/interval_ms:0"});
        ASSERT_NE(h2mon, nullptr);
        if (c.doing == Doing::HoldingOffOutput) {
            expected_output = hex(frames_[1]) + "\n";
            ASSERT_TRUE(wait_for_lines(*h2mon, 1));
            std::this_thread::sleep_for(100ms); // the next poll waits to be sent
        } else if (c.doing == Doing::AnsweringInATrickle) {
            // The bytes lie in the line for the answer's read, if it has not
            // taken them yet: the stop comes while the answer trickles in.
            ASSERT_TRUE(line.wait_for_noise(3, kPrompt));
        } else if (c.doing == Doing::Silent) {
            ASSERT_TRUE(line.wait_for_polls(1, kPrompt));
            std::this_thread::sleep_for(100ms); // h2mon waits for the answer
        } else {
            std::this_thread::sleep_for(1000ms);
        }
        ASSERT_TRUE(h2mon->running());
        ASSERT_TRUE(c.key ? h2mon->press_key('q') : h2mon->send(c.event));
        // From when the key or event has reached h2mon: a helper program that
        // sends it takes a time of its own to start.
        const auto sent = Clock::now();
        expect_exit(*h2mon, 0);
        EXPECT_LE(ms_since(sent), 1500);
        EXPECT_EQ(h2mon->output(), expected_output);
        expect_same_line_settings(line.settings(), line_settings_);
    }
}

// `h2mon ... | head -c 10`: once the reader has gone, nothing more can be shown.
TEST_F(StopTest, AClosedStandardOutputEndsTheRunLikeAStopSignal) {
    E2E_REQUIRE(OutputReaderGone);
    line_.play([this](int poll) { return frame_for(poll); });
    const std::string log = dir_.file("closed.csv");
    auto h2mon = start({port_arg(line_.path()), "/out:" + log, "/interval_ms:100"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 2));
    h2mon->close_output();
    expect_exit(*h2mon, 0);

    // Every record of the log is whole; the last was the one that found the reader gone.
    const std::vector<std::string> logged = lines_of(launcher().text_file(log));
    const std::vector<std::string> csv = lines_of(golden("csv.txt"));
    ASSERT_GE(logged.size(), 1u);
    for (std::size_t i = 0; i < logged.size(); ++i) {
        EXPECT_EQ(mask_mjds(logged[i]).text, csv[1 + i % 3]) << "record " << i;
    }
    expect_same_line_settings(line_.settings(), line_settings_);
}

TEST_F(StopTest, StandardInputAtItsEndIsNoKey) {
    E2E_REQUIRE(NullInput);
    line_.play([this](int poll) { return frame_for(poll); });
    auto h2mon = start({port_arg(line_.path()), "/fmt:hex", "/interval_ms:0"}, Input::Null);
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 3));
    EXPECT_TRUE(h2mon->running());
    // Where the console takes keys apart from standard input, a key stops it.
    ASSERT_TRUE(launcher().can_send(StopEvent::Terminate) ? h2mon->send(StopEvent::Terminate)
                                                          : h2mon->press_key('q'));
    expect_exit(*h2mon, 0);
    EXPECT_EQ(lines_of(h2mon->output())[2], hex(frames_[0]));
}

// In the classic Windows console a click starts a selection (QuickEdit), and
// with line input on, Pause or Ctrl+S pauses output: either holds every console
// write, and with it the run. Mouse input on turns the wheel into input records,
// so the operator could not scroll back. All off while running, the
// extended-flags bit on (without it the console ignores the QuickEdit bit).
TEST_F(StopTest, TheConsoleInputCannotHoldTheRunWhileRunning) {
    E2E_REQUIRE(WindowsConsole);
    constexpr unsigned kLineInput = 0x2;      // ENABLE_LINE_INPUT
    constexpr unsigned kEchoInput = 0x4;      // ENABLE_ECHO_INPUT
    constexpr unsigned kMouseInput = 0x10;    // ENABLE_MOUSE_INPUT
    constexpr unsigned kQuickEdit = 0x40;     // ENABLE_QUICK_EDIT_MODE
    constexpr unsigned kExtendedFlags = 0x80; // ENABLE_EXTENDED_FLAGS
    constexpr unsigned kWatched =
        kLineInput | kEchoInput | kMouseInput | kQuickEdit | kExtendedFlags;
    line_.play([this](int poll) { return frame_for(poll); });
    auto h2mon = start({port_arg(line_.path()), "/fmt:hex", "/interval_ms:0"});
    ASSERT_NE(h2mon, nullptr);
    ASSERT_TRUE(wait_for_lines(*h2mon, 1));
    unsigned mode = 0;
    ASSERT_TRUE(h2mon->console_input_mode(mode));
    EXPECT_EQ(mode & kWatched, kExtendedFlags) << std::hex << mode;
    stop_with_key(*h2mon);
}

} // namespace
} // namespace e2e
