// The acquisition loop against a scripted maser on a simulated line: each poll
// the loop writes is answered with the next bytes of a script, and which frames
// become records is read from the hexadecimal dumps printed.
#include "telemetry/channels.h"
#include "telemetry/hex.h"
#include "h2mon/loop.h"
#include "h2mon/notices.h"
#include "tests/h2mon/serial/fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::string kPollText(reinterpret_cast<const char*>(kPoll), kPollLength);

// Bytes that reach the line `at_ms` after the poll.
struct Piece {
    DWORD at_ms;
    std::string bytes;
};

// What the line brings after a poll, and how long after it; `later` comes
// `later_ms` after the poll, and `pieces` each at its own time.
struct Answer {
    std::string bytes;
    DWORD delay_ms = 5;
    std::string later = "";
    DWORD later_ms = 0;
    std::vector<Piece> pieces = {};
};

// Answers the loop's polls from a script. When the script is used up, the
// next read fails, which ends the loop with a read error.
class ScriptedMaser {
public:
    explicit ScriptedMaser(FakePlatform& line, std::vector<Answer> script)
        : line_(line), script_(script.begin(), script.end()), calls_(platform_calls()) {
        active = this;
        write_ = calls_.WriteFile;
        calls_.WriteFile = answering_write;
        install_platform_calls(calls_);
    }
    ~ScriptedMaser() {
        calls_.WriteFile = write_;
        install_platform_calls(calls_);
        active = nullptr;
    }

private:
    static BOOL WINAPI answering_write(HANDLE handle, LPCVOID bytes, DWORD size, LPDWORD done,
                                       LPOVERLAPPED overlapped) {
        const BOOL result = active->write_(handle, bytes, size, done, overlapped);
        active->answer_completed_poll();
        return result;
    }

    void answer_completed_poll() {
        const std::string& written = line_.written;
        if (written.size() < kPollText.size() || written.size() == answered_up_to_ ||
            written.compare(written.size() - kPollText.size(), kPollText.size(), kPollText) != 0) {
            return;
        }
        answered_up_to_ = written.size();
        if (script_.empty()) {
            line_.fail_always("ReadFile", ERROR_GEN_FAILURE);
            return;
        }
        const Answer& answer = script_.front();
        line_.arrive(answer.delay_ms, answer.bytes);
        line_.arrive(answer.later_ms, answer.later);
        for (const Piece& piece : answer.pieces) {
            line_.arrive(piece.at_ms, piece.bytes);
        }
        script_.pop_front();
    }

    static ScriptedMaser* active;
    FakePlatform& line_;
    std::deque<Answer> script_;
    PlatformCalls calls_;
    decltype(PlatformCalls::WriteFile) write_ = nullptr;
    std::size_t answered_up_to_ = 0;
};

ScriptedMaser* ScriptedMaser::active = nullptr;

// A frame whose bytes tell it apart from every other frame of a test.
std::string frame(int number) {
    std::string bytes(kFrameLength, '\0');
    for (int i = 0; i < kFrameLength; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(number * 31 + i);
    }
    return bytes;
}

std::string hex_line(const std::string& bytes) {
    std::string text;
    append_hex(text, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return text + "\n";
}

// Runs the loop in the hexadecimal form over the script; returns the records it
// printed before the read error that ends the script (and, when asked for, its
// notices).
std::string records_for(const std::vector<Answer>& script, int interval_ms,
                        std::string* notices = nullptr, LONG hold_back_ms = -1) {
    FakePlatform line;
    line.hold_back_ms = hold_back_ms;
    COMPORT port;
    EXPECT_EQ(port.open("COM1", 9600, true, true, 8), 0u);
    ScriptedMaser maser(line, script);
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    char* notice_text = nullptr;
    std::size_t notice_size = 0;
    std::FILE* notice_stream = open_memstream(&notice_text, &notice_size);
    LoopSettings settings{"COM1", OutputForm::kHex, interval_ms, RecordOutput{}};
    settings.output.out = out;
    settings.notices = notice_stream;
    EXPECT_EQ(acquisition_loop(port, settings), 1); // the read error at the script's end
    std::fclose(out);
    std::fclose(notice_stream);
    if (notices != nullptr) {
        *notices = std::string(notice_text, notice_size);
    }
    std::free(notice_text);
    std::string printed(text, size);
    std::free(text);
    const std::string read_error = "Read error on port COM1: Hosed\n";
    EXPECT_TRUE(
        printed.size() >= read_error.size() &&
        printed.compare(printed.size() - read_error.size(), read_error.size(), read_error) == 0)
        << "standard output does not end with the read error: " << printed;
    return printed.substr(0, printed.size() - std::min(printed.size(), read_error.size()));
}

// `bytes` in pieces of `size`, the first `first_ms` after the poll and each
// next one `gap_ms(i)` after piece i.
template <class Gap>
Answer in_pieces(const std::string& bytes, std::size_t size, DWORD first_ms, Gap gap_ms) {
    Answer answer{""};
    DWORD at = first_ms;
    for (std::size_t i = 0; i * size < bytes.size(); ++i) {
        answer.pieces.push_back({at, bytes.substr(i * size, size)});
        at += gap_ms(i);
    }
    return answer;
}

// Answers that the read's rules accept (the first byte within 1000 ms, never
// 100 ms without a byte) are frames however long they take in all, as a slow
// adapter or a busy maser make them.
TEST(AcquisitionLoop, AcceptsEveryAnswerTheReadRulesAccept) {
    struct Case {
        const char* what;
        Answer answer;
    };
    const Case cases[] = {
        {"starting 850 ms late", {frame(2), 850}},
        {"starting 999 ms late, in 63-byte pieces 99 ms apart",
         in_pieces(frame(2), 63, 999, [](std::size_t) { return 99u; })},
        {"in 10-byte pieces 60 ms apart (1.1 s in all)",
         in_pieces(frame(2), 10, 5, [](std::size_t) { return 60u; })},
        {"in 7-byte pieces 44 to 54 ms apart",
         in_pieces(frame(2), 7, 5, [](std::size_t i) { return DWORD(44 + i * 7 % 11); })},
        {"a byte every 95 ms (18 s in all)",
         in_pieces(frame(2), 1, 5, [](std::size_t) { return 95u; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Whole answers around it: the slow one must not spoil them either.
        EXPECT_EQ(records_for({{frame(1)}, c.answer, {frame(3)}, {frame(4)}}, 0),
                  hex_line(frame(2)) + hex_line(frame(3)) + hex_line(frame(4)));
    }
}

// An answer that came slower than the line's pace may pause as long again: what
// comes within an inter-byte time-out after its 189th byte belongs to it, so a
// trickle of noise that the read takes in after a poll never passes as a frame.
TEST(AcquisitionLoop, ASlowAnswerIsWholeOnlyAfterAnInterbyteTimeOutOfQuiet) {
    const std::string noise(190, '\x55');
    Answer one_piece_more = in_pieces(frame(2), 10, 5, [](std::size_t) { return 60u; });
    one_piece_more.pieces.push_back({one_piece_more.pieces.back().at_ms + 60, "0123456789"});
    struct Case {
        const char* what;
        Answer answer;
    };
    const Case cases[] = {
        {"noise trickling in after the poll, a byte every 90 ms",
         in_pieces(noise, 1, 5, [](std::size_t) { return 90u; })},
        {"an answer in 10-byte pieces 60 ms apart and one piece more", one_piece_more},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(records_for({{frame(1)}, c.answer, {frame(3)}, {frame(4)}}, 0),
                  hex_line(frame(3)) + hex_line(frame(4)));
    }
}

TEST(AcquisitionLoop, PrintsOnlyAnswersThatAreExactlyOneFrame) {
    const std::string noise("\x55\xAA\x0F", 3);
    struct Case {
        const char* what;
        std::vector<Answer> script;
        std::string records;
        int interval_ms = 0;
    };
    // Noise that comes after a frame has been checked (quiet for 50 ms after its
    // last byte on a device that does not say what it holds back) and before the
    // next poll.
    const Answer noise_after_check{frame(2), 5, noise, 60};
    const Case cases[] = {
        {"whole frames, the first one discarded",
         {{frame(1)}, {frame(2)}, {frame(3)}},
         hex_line(frame(2)) + hex_line(frame(3))},
        {"a short answer is no frame",
         {{frame(1)}, {frame(2).substr(0, 150)}, {frame(3)}},
         hex_line(frame(3))},
        {"bytes right after the frame: the answer was longer than a frame",
         {{frame(1)}, {frame(2) + noise}, {frame(3)}},
         hex_line(frame(3))},
        {"bytes handed over late by an adapter (30 ms after the frame) still count",
         {{frame(1)}, {frame(2), 5, noise, 35}, {frame(3)}},
         hex_line(frame(3))},
        {"bytes between the poll and the answer would shift the frame",
         {{frame(1)}, {noise + frame(2)}, {frame(3)}},
         hex_line(frame(3))},
        {"the tail of a slow answer ahead of the next one",
         {{frame(1)}, {frame(2).substr(0, 60)}, {frame(2).substr(60) + frame(3)}, {frame(4)}},
         hex_line(frame(4))},
        {"with a pause, bytes before the next poll are discarded",
         {{frame(1)}, noise_after_check, {frame(3)}},
         hex_line(frame(2)) + hex_line(frame(3)),
         1},
        {"back to back, they make the next answer run long",
         {{frame(1)}, noise_after_check, {frame(3)}, {frame(4)}},
         hex_line(frame(2)) + hex_line(frame(4))},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(records_for(c.script, c.interval_ms), c.records) << c.what;
    }
}

// The quiet check after a frame lasts what the device may hold bytes back plus
// four character times at the line's rate (5 ms at 9600 baud), or 50 ms when
// the device does not say: a byte within it makes the answer no frame, one
// after it is left for the discard before the next poll.
TEST(AcquisitionLoop, TheQuietCheckLastsWhatTheDeviceHoldsBackPlusFourCharacterTimes) {
    struct Case {
        const char* what;
        LONG hold_back_ms;
        DWORD byte_after_ms; // after the frame's last byte
        bool printed;
    };
    const Case cases[] = {
        {"a device that does not say, a byte 45 ms later", -1, 45, false},
        {"a device that does not say, a byte 55 ms later", -1, 55, true},
        {"an FTDI adapter's 16 ms, a byte 20 ms later", 16, 20, false},
        {"an FTDI adapter's 16 ms, a byte 23 ms later", 16, 23, true},
        {"a pseudo-terminal, a byte 4 ms later", 0, 4, false},
        {"a pseudo-terminal, a byte 7 ms later", 0, 7, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Answer followed{frame(2), 5, "\x55", 5 + c.byte_after_ms};
        EXPECT_EQ(records_for({{frame(1)}, followed, {frame(3)}}, 1, nullptr, c.hold_back_ms),
                  (c.printed ? hex_line(frame(2)) : "") + hex_line(frame(3)));
    }
}

// The maser stops giving frames (the line's clock is simulated, so the half
// minute passes at once): one notice once the limit has passed, naming what came
// instead, and one when frames come again; nothing in between.
TEST(AcquisitionLoop, AMaserWithoutFramesIsNoticedOnceAndItsReturnOnce) {
    struct Case {
        const char* what;
        Answer instead;
        const char* came;
        int interval_ms;
        int misses; // exchanges without a frame: a silent one takes over a
                    // second, a broken answer and its drain under half of one
    };
    const Case cases[] = {
        {"silent, past 30 s", {""}, "no answer", 0, 40},
        {"short answers", {frame(9).substr(0, 100)}, "short answers", 0, 150},
        {"answers longer than a frame", {frame(9) + "xy"}, "answers that were no frame", 0, 150},
        {"silent, under 30 s: no notice", {""}, nullptr, 0, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Answer> script{{frame(1)}, {frame(2)}};
        script.insert(script.end(), static_cast<std::size_t>(c.misses), c.instead);
        script.push_back({frame(3)});
        std::string notices;
        EXPECT_EQ(records_for(script, c.interval_ms, &notices),
                  hex_line(frame(2)) + hex_line(frame(3)));
        if (c.came == nullptr) {
            EXPECT_EQ(notices, "");
            continue;
        }
        const std::string time = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC)";
        EXPECT_TRUE(std::regex_match(notices,
                                     std::regex("No frame from COM1 since " + time + ": " + c.came +
                                                "\nFrames from COM1 again since " + time + "\n")))
            << notices;
    }
}

// A long reading interval moves the limit out to three intervals: a maser
// polled every 15 s is noticed after 45 s without a frame, not 30 s.
TEST(FrameWatch, TheLimitIsThreeIntervalsWhenThatIsLonger) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* notices = open_memstream(&text, &size);
    FrameWatch watch("COM7", 15000, notices);
    watch.start(0, 0);
    watch.miss(Miss::kNoAnswer, 44999);
    std::fflush(notices);
    EXPECT_EQ(std::string(text, size), "");
    watch.miss(Miss::kShortAnswer, 45000);
    watch.miss(Miss::kNoAnswer, 90000);
    std::fclose(notices);
    EXPECT_EQ(std::string(text, size),
              "No frame from COM7 since 1970-01-01 00:00:00 UTC: no answer, short answers\n");
    std::free(text);
}

} // namespace
