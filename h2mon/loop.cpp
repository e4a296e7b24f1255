#include "h2mon/loop.h"

#include "h2mon/failure_message.h"
#include "h2mon/notices.h"
#include "h2mon/win32/calls.h"
#include "h2mon/io/console_session.h"
#include "telemetry/channels.h"

#include <chrono>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::int32_t kAnswerTimeoutMs = 1000;   // first byte of the answer
constexpr std::int32_t kInterbyteTimeoutMs = 100; // silence that ends the answer
constexpr std::int32_t kResyncDrainMs = 200;      // after an answer that is no frame, and at start
constexpr std::int32_t kNoTerminator = -1;
// How long the line must stay quiet after an answer's last byte for the answer to
// be a frame. Real adapters hand bytes over late: an FTDI chip holds a partial
// USB packet up to its 16 ms latency timer, a 16550 UART holds received bytes up
// to four character times (33 ms at 1200 baud). A byte that follows the frame
// must still be seen here, or a frame shifted by noise would pass as a record.
constexpr std::int32_t kFrameQuietMs = 50;
// The discard before a poll gives up on a line that does not go quiet by then.
constexpr std::int32_t kDiscardLimitMs = 250;

bool key_taken = false; // a key press was seen (and consumed): the run ends

bool key_pressed() {
    if (key_taken) {
        return true;
    }
    if (!key_waiting()) {
        return false;
    }
    take_key(); // consume the key so it does not reach whatever runs next
    key_taken = true;
    return true;
}

// A stop signal or event, or a key press. Also asked by the port while it waits
// on the line, so a stop never waits for the line to go quiet.
bool stop_asked() {
    return stop_requested() || key_pressed();
}

// The five-byte poll, RTS raised around its first byte.
void poll_maser(COMPORT& port) {
    port.setrts(true);
    port.putc(kPoll[0]);
    port.setrts(false);
    for (std::size_t i = 1; i < kPollLength; ++i) {
        port.putc(kPoll[i]);
    }
}

// A failed read or write has closed the port; the recorded error says why.
int line_failure(COMPORT& port, const char* lead, const LoopSettings& settings) {
    print_text(port_failure_text(lead, settings.port_setting, port), settings.output);
    return 1;
}

// Reads and discards what the line delivers for `milliseconds`. A read failure
// inside the drain closes the port: reported as a read error.
bool drained(COMPORT& port, std::int32_t milliseconds) {
    port.drain(milliseconds);
    return port.isopen();
}

// How long a frame takes on the line at `baud`, counting 12 bits a character
// (start, 8 data, parity, two stop bits: the most a character can take).
std::int32_t frame_transfer_ms(DWORD baud) {
    constexpr std::int64_t kBitsPerCharacter = 12;
    if (baud == 0) {
        return 0;
    }
    const std::int64_t ms = (kFrameLength * kBitsPerCharacter * 1000 + baud - 1) / baud;
    return static_cast<std::int32_t>(ms > INT32_MAX / 2 ? INT32_MAX / 2 : ms);
}

// NoAnswer, ShortAnswer and NotAFrame are the ways an exchange gives no frame.
enum class Answer { Frame, NoAnswer, ShortAnswer, NotAFrame, LineFailed };

Miss miss_of(Answer answer) {
    switch (answer) {
    case Answer::NoAnswer:
        return Miss::kNoAnswer;
    case Answer::ShortAnswer:
        return Miss::kShortAnswer;
    default:
        return Miss::kNotAFrame;
    }
}

// Milliseconds on the port's clock, carried past the wrap of its 32 bits.
class RunClock {
public:
    RunClock() : last_(platform_calls().timeGetTime()) {}
    std::int64_t now_ms() {
        const DWORD now = platform_calls().timeGetTime();
        total_ += static_cast<DWORD>(now - last_);
        last_ = now;
        return total_;
    }

private:
    DWORD last_;
    std::int64_t total_ = 0;
};

std::int64_t unix_now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// What the line does while it is watched.
enum class Line { Quiet, Busy, Failed };

// Whether a byte arrives within `milliseconds` (the byte is taken from the line).
// Ends at the first byte, so it is bounded however busy the line is.
Line line_within(COMPORT& port, std::int32_t milliseconds) {
    std::int32_t count = 1;
    if (port.read(nullptr, &count, milliseconds, 0, kNoTerminator) != 0) {
        return Line::Failed;
    }
    return count == 1 ? Line::Busy : Line::Quiet;
}

// Discards the bytes that lie in the line before a poll: they belong to no answer
// of it, and left in place they would be read as the start of its frame. A line
// still busy after kDiscardLimitMs (noise, a device that streams) is given up
// on and reported Busy.
Line discard_stale_bytes(COMPORT& port) {
    const Line first = line_within(port, 0);
    if (first != Line::Busy) {
        return first;
    }
    // A negative total time-out bounds the whole read; an inter-byte time-out of
    // 0 ends it at the first empty fetch (the port's 10 ms read time-out).
    std::int32_t count = INT32_MAX;
    if (port.read(nullptr, &count, -kDiscardLimitMs, 0, kNoTerminator) != 0) {
        return Line::Failed;
    }
    return line_within(port, 0);
}

// Reads the maser's answer to a poll into `frame`. An answer is a frame only when
// it is exactly one frame long: fewer bytes are a broken answer, and bytes that
// follow the last one at once mean the answer was longer than a frame. Then
// nothing tells where the frame began: bytes that reached the line between the
// poll and the answer (noise, or the tail of an earlier, slow answer) would push
// every channel out of place, so such an answer is not shown.
Answer read_answer(COMPORT& port, BYTE* frame) {
    // The whole answer is bounded, not only the wait for its first byte: a line
    // that trickles a byte within every inter-byte time-out would otherwise hold
    // the read for as long as it lasts. After the first byte, the rest must come
    // within the time it takes on the line at its rate, plus one inter-byte
    // time-out for an adapter that hands bytes over late.
    std::int32_t first = 1;
    if (port.read(frame, &first, kAnswerTimeoutMs, kInterbyteTimeoutMs, kNoTerminator) != 0) {
        return Answer::LineFailed;
    }
    std::int32_t received = first;
    if (first == 1) {
        std::int32_t rest = kFrameLength - 1;
        const std::int32_t limit = frame_transfer_ms(port.dcb.BaudRate) + kInterbyteTimeoutMs;
        if (port.read(frame + 1, &rest, -limit, kInterbyteTimeoutMs, kNoTerminator) != 0) {
            return Answer::LineFailed;
        }
        received += rest;
    }
    if (received == 0) {
        return Answer::NoAnswer;
    }
    if (received != kFrameLength) {
        return Answer::ShortAnswer;
    }
    switch (line_within(port, kFrameQuietMs)) {
    case Line::Quiet:
        return Answer::Frame;
    case Line::Busy:
        return Answer::NotAFrame;
    case Line::Failed:
        break;
    }
    return Answer::LineFailed;
}

// Reads the answer with the port's stop check off: a stop asked for meanwhile
// lets the answer and its quiet check finish, so the record it carries is kept
// and never judged on a cut check. Both are bounded, which keeps that short.
Answer read_answer_to_end(COMPORT& port, BYTE* frame) {
    bool (*const stop_waiting)() = port.pfnStopWaiting;
    port.pfnStopWaiting = nullptr;
    const Answer answer = read_answer(port, frame);
    port.pfnStopWaiting = stop_waiting;
    return answer;
}

// One exchange: the stale bytes discarded (unless the line was found quiet just
// before), the poll, the answer.
Answer exchange(COMPORT& port, bool line_quiet, BYTE* frame, const char** failure_lead) {
    *failure_lead = "Read error on port";
    if (!line_quiet) {
        const Line line = discard_stale_bytes(port);
        if (line != Line::Quiet) {
            // A line that does not go quiet gets no poll: no answer could be told apart.
            return line == Line::Busy ? Answer::NotAFrame : Answer::LineFailed;
        }
    }
    if (stop_asked()) {
        return Answer::NotAFrame; // no poll whose answer would then be waited for
    }
    poll_maser(port);
    if (!port.isopen()) {
        *failure_lead = "Write error on port";
        return Answer::LineFailed;
    }
    return read_answer_to_end(port, frame);
}

} // namespace

int acquisition_loop(COMPORT& port, const LoopSettings& settings) {
    port.pfnStopWaiting = stop_asked;
    if (!drained(port, kResyncDrainMs)) {
        return line_failure(port, "Read error on port", settings);
    }
    BYTE frame[kFrameLength];
    bool first_frame_pending = true;
    bool line_quiet = false; // found quiet by a frame's check, with no pause since
    RunClock clock;
    FrameWatch watch(settings.port_setting, settings.interval_ms, settings.notices);
    watch.start(clock.now_ms(), unix_now_ms());
    for (;;) {
        if (stop_asked()) {
            return 0;
        }
        std::memset(frame, 0, sizeof frame);
        const char* failure_lead = nullptr;
        const Answer answer = exchange(port, line_quiet, frame, &failure_lead);
        if (answer == Answer::LineFailed) {
            // A stop asked for while the line failed (a write held off until it
            // timed out) is still an orderly stop.
            return stop_asked() ? 0 : line_failure(port, failure_lead, settings);
        }
        line_quiet = answer == Answer::Frame;
        if (answer != Answer::Frame) {
            // A stop asked for during the exchange is taken before the pause.
            if (stop_asked()) {
                return 0;
            }
            watch.miss(miss_of(answer), clock.now_ms());
            // Let the rest of the broken answer pass, then poll again at once.
            if (!drained(port, kResyncDrainMs)) {
                return line_failure(port, "Read error on port", settings);
            }
            continue;
        }
        watch.frame(clock.now_ms(), unix_now_ms());
        if (first_frame_pending) {
            first_frame_pending = false;
            continue;
        }
        if (!print_record(settings.form, frame, kFrameLength, settings.output)) {
            return 0; // standard output's reader has gone: stopped like a stop signal
        }
        interval_sleep(static_cast<std::uint32_t>(settings.interval_ms));
        // Polling back to back, only the printing has passed since the check.
        // Should a byte come in that moment, the next answer runs long and is
        // not shown, never shifted.
        line_quiet = settings.interval_ms == 0;
    }
}
