#include "h2mon/win32/console_session.h"

#include "h2mon/win32/windows/console_modes.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

volatile LONG stop_flag = 0;
HANDLE stop_event = nullptr; // set with the flag: ends the interval sleep
bool escapes_shown = true;

const char kSessionWindowClass[] = "h2mon session";

void request_stop() {
    InterlockedExchange(&stop_flag, 1);
    if (stop_event != nullptr) {
        SetEvent(stop_event);
    }
}

// Windows ends the process as soon as the handler of a closing window or an
// ending session returns. So it waits while the main thread stops the run and
// ends the process itself (port restored, records out). Should that take longer
// than Windows allows, Windows ends the process anyway.
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
        // off: not h2mon's end. The end of its own session comes as WM_ENDSESSION.
        return TRUE;
    default: // the console window closed, the system shutting down
        request_stop();
        wait_for_orderly_end();
        return TRUE;
    }
}

// A program that has user32 loaded (h2mon has, through winmm and setupapi) learns
// of the end of its session only by window messages, so a hidden window listens.
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
        // A polite end (taskkill without /F): a stop request. The window stays,
        // so the end of the session is still heard until the run is over.
        request_stop();
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

// A top-level window (not a message-only one), since only those are told of the
// end of the session; never shown.
bool create_session_window() {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = on_session_message;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kSessionWindowClass;
    return RegisterClassA(&window_class) != 0 &&
           CreateWindowExA(0, kSessionWindowClass, "h2mon", 0, 0, 0, 0, 0, nullptr, nullptr,
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
        DispatchMessageA(&message);
    }
    return 0;
}

void install_stop_handlers() {
    stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
    // The program may end right after this: it must not end the window's thread
    // while that is inside the window system, which can leave it locked for the
    // rest of the exit. Waiting for it is bounded, so start-up never hangs.
    constexpr DWORD kWindowReadyMs = 5000;
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
    install_stop_handlers();
    console_input_for_recording();
    ask_for_escape_sequences();
}

bool stop_requested() {
    return stop_flag != 0;
}

void interval_sleep(DWORD milliseconds) {
    if (stop_event == nullptr) {
        Sleep(milliseconds);
        return;
    }
    WaitForSingleObject(stop_event, milliseconds);
}

bool escape_sequences_shown() {
    return escapes_shown;
}
