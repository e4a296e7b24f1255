#include "h2export/change_watch.h"

#include <algorithm>
#include <atomic>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<bool> stop_asked{false};

#ifdef _WIN32
BOOL WINAPI note_stop(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        stop_asked = true;
        return TRUE;
    }
    return FALSE;
}
#endif

} // namespace

ChangeWatch::ChangeWatch() {
#ifdef _WIN32
    SetConsoleCtrlHandler(note_stop, TRUE);
#endif
}

ChangeWatch::~ChangeWatch() = default;

bool ChangeWatch::watch(const std::string&) {
    return true;
}

bool ChangeWatch::stop_requested() const {
    return stop_asked;
}

bool ChangeWatch::wait(std::optional<Duration> timeout) {
    std::this_thread::sleep_for(timeout ? std::clamp(*timeout, Duration(0), kPollInterval)
                                        : kPollInterval);
    return false;
}
