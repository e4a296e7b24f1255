// The console on Windows: the key test of the console's input buffer, the
// console's modes while the run lasts, and the stop requests (StopSignals).
#include "h2mon/io/console_session.h"

#include "h2mon/io/console_modes_windows.h"
#include "program/stop_signals.h"

#include <chrono>
#include <conio.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

// Made once, before any thread starts, and never destroyed: what asks the run
// to end is heard until the process has ended.
const StopSignals* stop_signals = nullptr;
bool escapes_shown = true;

// What the console's input must not do while h2mon runs. QuickEdit: a mouse
// click starts a selection, and every console write then blocks until the
// selection ends, so the run would halt unseen. Mouse input: with it on, the
// wheel and clicks become input records, and the operator cannot scroll back
// through the records. Line input (with its echo): the console then takes
// Pause and Ctrl+S to pause its output, again holding every write, and swallows
// both keys. The extended-flags bit is set with the change: without it the
// console ignores the QuickEdit bit, and it may report QuickEdit as off when an
// earlier mode call dropped the bit. The modes found are put back at exit.
void console_input_for_recording() {
    DWORD mode = 0;
    if (console_mode(ConsoleSide::kInput, &mode)) {
        change_console_mode(ConsoleSide::kInput, ENABLE_EXTENDED_FLAGS,
                            ENABLE_QUICK_EDIT_MODE | ENABLE_MOUSE_INPUT | ENABLE_LINE_INPUT |
                                ENABLE_ECHO_INPUT);
    }
}

// The classic console shows escape sequences as text until asked to interpret
// them; one too old to be asked gets none. Redirected output is left alone.
void ask_for_escape_sequences() {
    DWORD mode = 0;
    if (console_mode(ConsoleSide::kOutput, &mode) &&
        (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0) {
        escapes_shown =
            change_console_mode(ConsoleSide::kOutput, ENABLE_VIRTUAL_TERMINAL_PROCESSING, 0);
    }
}

} // namespace

void console_session_begin() {
    if (stop_signals == nullptr) {
        stop_signals = new StopSignals;
    }
    console_input_for_recording();
    ask_for_escape_sequences();
}

const StopSignals* session_stop_signals() {
    return stop_signals;
}

bool stop_requested() {
    return stop_signals != nullptr && stop_signals->requested();
}

void interval_sleep(std::uint32_t milliseconds) {
    if (stop_signals == nullptr) {
        Sleep(milliseconds);
        return;
    }
    stop_signals->wait(std::chrono::milliseconds(milliseconds));
}

bool key_waiting() {
    return _kbhit() != 0;
}

int take_key() {
    return _getch();
}

bool escape_sequences_shown() {
    return escapes_shown;
}
