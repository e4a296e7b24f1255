#include "h2mon/loop.h"

#include "h2mon/failure_message.h"
#include "h2mon/notices.h"
#include "h2mon/win32/calls.h"
#include "h2mon/io/console_session.h"
#include "telemetry/channels.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::int32_t kAnswerTimeoutMs = 1000;   // first byte of the answer
constexpr std::int32_t kInterbyteTimeoutMs = 100; // silence that ends the answer
constexpr std::int32_t kResyncDrainMs = 200;      // after an answer that is no frame, and at start
constexpr std::int32_t kNoTerminator = -1;
// How long the line must stay quiet after an answer's last byte for the answer
// to be a frame, when nothing is known of the device: real ones hand bytes over
// late (an FTDI chip holds a partial USB packet up to its latency timer, 16 ms by
// default; a 16550 UART holds received bytes up to four character times, 33 ms
// at 1200 baud). A byte that follows the frame must still be seen by the check,
// or a frame shifted by noise would pass as a record.
constexpr std::int32_t kUnknownDeviceQuietMs = 50;
// Beyond what the device holds back: the character times a UART's FIFO may
// hold bytes, and the last byte's own time on the line.
constexpr std::int64_t kQuietCharacters = 4;
constexpr std::int32_t kShortestQuietMs = 2; // the millisecond clock's own step
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

// How long `characters` (a frame's at most) take on the line at `baud` (at
// least 1), counting 12 bits a character (start, 8 data, parity, two stop bits:
// the most a character can take), rounded up.
std::int32_t line_time_ms(std::int64_t characters, DWORD baud) {
    return static_cast<std::int32_t>((characters * 12 * 1000 + baud - 1) / baud);
}

// What the line's pace through this port's device allows for after a frame's
// first byte.
struct Pace {
    // How long the line must then stay quiet after the frame: as long as the
    // device may hold bytes back plus a few character times at the line's rate,
    // or kUnknownDeviceQuietMs when the device does not say.
    std::int32_t quiet_ms;
    // How long the rest of the frame takes at most, at the line's rate and
    // through the device: longer, and the answer came slower than the line.
    std::int32_t rest_ms;
};

Pace line_pace(COMPORT& port) {
    const LONG hold_back = platform_calls().port_hold_back_ms(port.hCOM);
    const DWORD baud = port.dcb.BaudRate;
    if (baud == 0) {
        return {kUnknownDeviceQuietMs, kUnknownDeviceQuietMs};
    }
    const std::int32_t quiet =
        hold_back < 0
            ? kUnknownDeviceQuietMs
            : hold_back + std::max(line_time_ms(kQuietCharacters, baud), kShortestQuietMs);
    return {quiet, line_time_ms(kFrameLength - 1, baud) + quiet};
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

// Once a poll has gone out, a stop lets its answer come in so that its record is
// kept, but only for as long as an answer at the line's pace takes: the first
// byte within its time-out, the rest within the time a frame takes on the line
// plus one inter-byte time-out. An answer that trickles in (a byte within every
// inter-byte time-out, up to 19 s for a frame) is cut by a stop after that.
struct StopGrace {
    bool active = false;
    DWORD until = 0; // on the port's millisecond clock
} stop_grace;

void grant_stop_grace(std::int32_t milliseconds) {
    stop_grace = {true, platform_calls().timeGetTime() + static_cast<DWORD>(milliseconds)};
}

// The port's stop check: a stop, unless the answer awaited is still within its
// grace.
bool stop_waiting() {
    if (stop_grace.active &&
        static_cast<std::int32_t>(platform_calls().timeGetTime() - stop_grace.until) <= 0) {
        return false;
    }
    return stop_asked();
}

// Reads the maser's answer to a poll into `frame` by the read's own rules: the
// first byte within 1000 ms, then bytes until the frame is whole or 100 ms pass
// without one, however long that takes in all. An answer is a frame only when
// it is exactly one frame long: fewer bytes are a broken answer, and bytes that
// follow the last one at once mean the answer was longer than a frame. Then
// nothing tells where the frame began: bytes that reached the line between the
// poll and the answer (noise, or the tail of an earlier, slow answer) would push
// every channel out of place, so such an answer is not shown.
Answer read_answer(COMPORT& port, BYTE* frame) {
    grant_stop_grace(kAnswerTimeoutMs);
    std::int32_t received = 1;
    DWORD error = port.read(frame, &received, kAnswerTimeoutMs, kInterbyteTimeoutMs, kNoTerminator);
    std::int32_t rest = kFrameLength - 1;
    std::int32_t rest_took_ms = 0;
    if (error == 0 && received == 1) {
        // The rest by the same rules: its first byte, as every next one, within
        // the inter-byte time-out.
        const DWORD baud = port.dcb.BaudRate;
        grant_stop_grace((baud == 0 ? 0 : line_time_ms(kFrameLength, baud)) + kInterbyteTimeoutMs);
        const DWORD started = platform_calls().timeGetTime();
        error =
            port.read(frame + 1, &rest, kInterbyteTimeoutMs, kInterbyteTimeoutMs, kNoTerminator);
        rest_took_ms = static_cast<std::int32_t>(platform_calls().timeGetTime() - started);
        received += rest;
    }
    stop_grace.active = false;
    if (error != 0) {
        return Answer::LineFailed;
    }
    if (received == 0) {
        return Answer::NoAnswer;
    }
    if (received != kFrameLength) {
        return Answer::ShortAnswer;
    }
    // An answer that came slower than the line's pace (a busy maser, a slow
    // adapter, or noise trickling in after the poll) may pause as long again
    // before more of it comes: it is whole only once the line has also stayed
    // quiet for a whole inter-byte time-out. So no trickle the read takes in,
    // however slow, passes as a frame. One wait of its own length, which a stop
    // does not cut: a frame is never judged on part of its check.
    const Pace pace = line_pace(port);
    const std::int32_t quiet_ms =
        pace.quiet_ms + (rest_took_ms > pace.rest_ms ? kInterbyteTimeoutMs : 0);
    bool quiet = false;
    if (port.quiet_for(static_cast<DWORD>(quiet_ms), &quiet) != 0) {
        return Answer::LineFailed;
    }
    return quiet ? Answer::Frame : Answer::NotAFrame;
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
    return read_answer(port, frame);
}

} // namespace

int acquisition_loop(COMPORT& port, const LoopSettings& settings) {
    port.pfnStopWaiting = stop_waiting;
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
