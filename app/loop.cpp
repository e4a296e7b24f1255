#include "app/loop.h"

#include "app/failure_message.h"
#include "platform/console_session.h"
#include "telemetry/channels.h"

#include <cstring>

namespace {

constexpr std::int32_t kAnswerTimeoutMs = 1000;   // first byte of the answer
constexpr std::int32_t kInterbyteTimeoutMs = 100; // silence that ends the answer
constexpr std::int32_t kResyncDrainMs = 200;      // after an answer that is no frame, and at start
constexpr std::int32_t kNoTerminator = -1;

bool key_pressed() {
    if (_kbhit() == 0) {
        return false;
    }
    _getch(); // consume the key so it does not reach whatever runs next
    return true;
}

// The five-byte poll, RTS raised around its first byte.
void poll_maser(COMPORT& port) {
    port.setrts(true);
    port.putc(0x01);
    port.setrts(false);
    port.putc(0x41);
    port.putc(0x00);
    port.putc(0x00);
    port.putc(0x00);
}

// A failed read or write has closed the port; the recorded error says why.
int line_failure(COMPORT& port, const char* lead, const char* port_setting) {
    print_port_failure(lead, port_setting, port);
    return 1;
}

// Reads and discards what the line delivers for `milliseconds`. A read failure
// inside the drain closes the port: reported as a read error.
bool drained(COMPORT& port, std::int32_t milliseconds) {
    port.drain(milliseconds);
    return port.isopen();
}

enum class Answer { Frame, NotAFrame, LineFailed };

// Reads the maser's answer to a poll into `frame`. An answer is a frame only when
// it is exactly one frame long: fewer bytes are a broken answer, and bytes that
// follow the last one at once mean the answer was longer than a frame. Then
// nothing tells where the frame began: bytes that reached the line between the
// poll and the answer (noise, or the tail of an earlier, slow answer) would push
// every channel out of place, so such an answer is not shown.
Answer read_answer(COMPORT& port, BYTE* frame) {
    std::int32_t received = kFrameLength;
    if (port.read(frame, &received, kAnswerTimeoutMs, kInterbyteTimeoutMs, kNoTerminator) != 0) {
        return Answer::LineFailed;
    }
    if (received != kFrameLength) {
        return Answer::NotAFrame;
    }
    // Reads what follows until the line has been quiet for the port's read
    // time-out: about 10 ms, several byte times at the maser's rates.
    const std::int32_t following = port.drain(0);
    if (!port.isopen()) {
        return Answer::LineFailed;
    }
    return following == 0 ? Answer::Frame : Answer::NotAFrame;
}

} // namespace

int acquisition_loop(COMPORT& port, const LoopSettings& settings) {
    if (!drained(port, kResyncDrainMs)) {
        return line_failure(port, "Read error on port", settings.port_setting);
    }
    BYTE frame[kFrameLength];
    bool first_frame_pending = true;
    bool line_quiet = false; // found quiet by a frame's check, with no pause since
    for (;;) {
        if (stop_requested() || key_pressed()) {
            return 0;
        }
        std::memset(frame, 0, sizeof frame);
        // Bytes already received belong to no answer of this poll: left in place
        // they would be read as the start of its frame.
        if (!line_quiet && !drained(port, 0)) {
            return line_failure(port, "Read error on port", settings.port_setting);
        }
        poll_maser(port);
        if (!port.isopen()) {
            return line_failure(port, "Write error on port", settings.port_setting);
        }
        const Answer answer = read_answer(port, frame);
        if (answer == Answer::LineFailed) {
            return line_failure(port, "Read error on port", settings.port_setting);
        }
        line_quiet = answer == Answer::Frame;
        if (answer == Answer::NotAFrame) {
            // Let the rest of the broken answer pass, then poll again at once.
            if (!drained(port, kResyncDrainMs)) {
                return line_failure(port, "Read error on port", settings.port_setting);
            }
            continue;
        }
        if (first_frame_pending) {
            first_frame_pending = false;
            continue;
        }
        print_record(settings.form, frame, kFrameLength, settings.output);
        interval_sleep(static_cast<DWORD>(settings.interval_ms));
        // Polling back to back, only the printing has passed since the check.
        // Should a byte come in that moment, the next answer runs long and is
        // not shown, never shifted.
        line_quiet = settings.interval_ms == 0;
    }
}
