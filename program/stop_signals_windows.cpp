#include "program/stop_signals.h"

#include <atomic>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// What the requests are kept in is the process's: the system delivers them to
// the process, on threads of its own, for as long as it runs.
namespace {

std::atomic<bool> stop_asked{false};
HANDLE stop_event = nullptr; // manual-reset, set with the flag: ends waits

const char kSessionWindowClass[] = "h2 stop requests";

void request_stop() {
    stop_asked = true;
    if (stop_event != nullptr) {
        SetEvent(stop_event);
    }
}

// Windows ends the process as soon as the handler of a closing window or an
// ending session returns. So it waits while the main thread stops the run and
// ends the process itself (every record out, the port restored). Should that
// take longer than Windows allows, Windows ends the process anyway.
void wait_for_orderly_end() {
    Sleep(INFINITE);
}

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        request_stop();
        return TRUE;
    case CTRL_LOGOFF_EVENT:
        // Sent to services and programs outside the session when any user logs
        // off: not this program's end. The end of its own session comes as
        // WM_ENDSESSION.
        return TRUE;
    default: // the console window closed, the system shutting down
        request_stop();
        wait_for_orderly_end();
        return TRUE;
    }
}

// A program that has user32 loaded learns of the end of its session only by
// window messages, and taskkill without /F asks it to end by WM_CLOSE to its
// top-level windows: a hidden window listens.
LRESULT CALLBACK on_session_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wparam != FALSE) {
            request_stop();
            wait_for_orderly_end();
        }
        return 0;
    case WM_CLOSE:
        // A polite end: a stop request. The window stays, so the end of the
        // session is still heard until the run is over.
        request_stop();
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

// A top-level window (not a message-only one), since only those are told of
// the end of the session and found by taskkill; never shown.
bool create_session_window() {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = on_session_message;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kSessionWindowClass;
    return RegisterClassA(&window_class) != 0 &&
           CreateWindowExA(0, kSessionWindowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                           window_class.hInstance, nullptr) != nullptr;
}

// `ready` is set once the window exists or cannot be made.
DWORD WINAPI session_window_thread(LPVOID ready) {
    const bool created = create_session_window();
    SetEvent(static_cast<HANDLE>(ready));
    if (!created) {
        return 1;
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        // taskkill posts WM_CLOSE to every top-level window of the process, and
        // the thread's other windows count as much as its own: the IME window
        // the system makes for the thread is listed before the thread's window
        // is, so a taskkill in that moment reaches that one alone.
        if (message.message == WM_CLOSE) {
            request_stop();
            continue;
        }
        DispatchMessageA(&message);
    }
    return 0;
}

// Starts the window's thread and waits until its window exists: until then
// taskkill has nothing to tell (and Wine's says it told it all the same). The
// program may end right after this: it must not end that thread while it is
// inside the window system, which can leave it locked for the rest of the
// exit. Windows makes the window at once; the wait is bounded all the same, so
// start-up never hangs on a window system that does not answer.
void start_session_window() {
    constexpr DWORD kWindowReadyMs = 30000;
    const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE thread = ready != nullptr
                              ? CreateThread(nullptr, 0, session_window_thread, ready, 0, nullptr)
                              : nullptr;
    if (thread != nullptr) {
        // After a time-out the thread may still set the event: it stays open.
        if (WaitForSingleObject(ready, kWindowReadyMs) == WAIT_OBJECT_0) {
            CloseHandle(ready);
        }
        CloseHandle(thread);
    } else if (ready != nullptr) {
        CloseHandle(ready);
    }
}

} // namespace

StopSignals::StopSignals() {
    if (stop_event != nullptr) {
        return; // taken over already
    }
    stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
    start_session_window();
}

// The requests stay taken over until the process ends: an event that comes
// while the program ends must still wait for that end, not cut it short.
StopSignals::~StopSignals() = default;

bool StopSignals::ok(std::string& error) const {
    error.clear();
    return true;
}

bool StopSignals::requested() const {
    return stop_asked;
}

bool StopSignals::wait(std::chrono::milliseconds timeout) const {
    // INFINITE itself would wait for ever.
    constexpr long long kLongest = INFINITE - 1;
    const long long ms = timeout.count() < 0 ? 0 : timeout.count();
    const DWORD wait_ms = static_cast<DWORD>(ms < kLongest ? ms : kLongest);
    if (stop_event == nullptr) {
        Sleep(wait_ms);
    } else {
        WaitForSingleObject(stop_event, wait_ms);
    }
    return requested();
}
