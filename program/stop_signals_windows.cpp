#include "program/stop_signals.h"

#include <atomic>

#include <windows.h>

namespace {

std::atomic<bool> stop_asked{false};

// Runs on a thread of the system's own: only notes the request.
BOOL WINAPI note_stop(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        stop_asked = true;
        return TRUE;
    }
    return FALSE;
}

} // namespace

StopSignals::StopSignals() {
    SetConsoleCtrlHandler(note_stop, TRUE);
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(note_stop, FALSE);
}

bool StopSignals::ok(std::string& error) const {
    error.clear();
    return true;
}

bool StopSignals::requested() const {
    return stop_asked;
}
