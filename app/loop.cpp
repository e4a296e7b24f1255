#include "app/loop.h"

#include "app/channels.h"
#include "platform/session.h"

#include <cstring>

namespace {

constexpr std::int32_t ANSWER_TIMEOUT_MS = 1000;   // first byte of the answer
constexpr std::int32_t INTERBYTE_TIMEOUT_MS = 100; // silence that ends the answer
constexpr std::int32_t RESYNC_DRAIN_MS = 200;      // after a short answer, and at start
constexpr std::int32_t NO_TERMINATOR = -1;

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
int line_failure(COMPORT& port, const char* direction, const char* port_setting) {
    std::printf("%s error on port %s: %s", direction, port_setting, port.errortext(0, false));
    return 1;
}

// Reads and discards what the line delivers for `milliseconds`. A read failure
// inside the drain closes the port: reported as a read error.
bool drained(COMPORT& port, std::int32_t milliseconds) {
    port.drain(milliseconds);
    return port.isopen();
}

} // namespace

int acquisition_loop(COMPORT& port, const LOOP_SETTINGS& settings) {
    if (!drained(port, RESYNC_DRAIN_MS)) {
        return line_failure(port, "Read", settings.port_setting);
    }
    BYTE frame[FRAME_LENGTH];
    bool first_frame_pending = true;
    for (;;) {
        if (key_pressed()) {
            return 0;
        }
        std::memset(frame, 0, sizeof frame);
        // Bytes already received belong to no answer of this poll: left in place
        // they would shift this frame and every later one.
        if (!drained(port, 0)) {
            return line_failure(port, "Read", settings.port_setting);
        }
        poll_maser(port);
        if (!port.isopen()) {
            return line_failure(port, "Write", settings.port_setting);
        }
        std::int32_t received = FRAME_LENGTH;
        if (port.read(frame, &received, ANSWER_TIMEOUT_MS, INTERBYTE_TIMEOUT_MS, NO_TERMINATOR) !=
            0) {
            return line_failure(port, "Read", settings.port_setting);
        }
        if (received != FRAME_LENGTH) {
            if (!drained(port, RESYNC_DRAIN_MS)) {
                return line_failure(port, "Read", settings.port_setting);
            }
            continue;
        }
        if (first_frame_pending) {
            first_frame_pending = false;
            continue;
        }
        print_record(settings.form, frame, received, settings.output);
        interval_sleep(static_cast<DWORD>(settings.interval_ms));
    }
}
