// console_event: does to another process what Windows does when the session
// of a console program ends, what taskkill does at its worst moment, or reads
// its console's mode.
//
//     console_event <process id | image name> end-session | first-close | input-mode
//
// end-session tells the target's top-level windows that the session ends
// (logging off), as Windows does before it ends the programs of a session, and
// leaves without waiting for the target to end; first-close waits for the
// target (an image name) to start and to have a top-level window, then posts
// WM_CLOSE to every top-level window it has at that moment, as taskkill without
// /F does (which can find the target at that moment only by chance);
// input-mode prints the mode of the target's console input buffer in
// hexadecimal. (Ctrl-C is no business of
// this helper: Wine raises the console's Ctrl-C event for a SIGINT, and raises
// none for another process's GenerateConsoleCtrlEvent.)
// Exit code 0 when done; 1 for bad arguments or no such process; 2 when it could
// not be done, with the reason on standard error.
#include "tests/wine/target_process.h"

#include <cstdio>
#include <cstring>

namespace {

int print_input_mode(DWORD id) {
    if (!attach_to_console_of(id)) {
        return 2;
    }
    HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    const BOOL ok = input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    if (!ok) {
        std::fprintf(stderr, "console_event: no console input mode (error %lu)\n", GetLastError());
        return 2;
    }
    std::printf("%lx\n", mode);
    return 0;
}

struct WindowSearch {
    DWORD id;
    int told;
};

// How long first-close waits for the target and its first window.
constexpr DWORD kFirstWindowWaitMs = 20000;

BOOL CALLBACK close_of(HWND window, LPARAM search_address) {
    auto* search = reinterpret_cast<WindowSearch*>(search_address);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->id && PostMessageA(window, WM_CLOSE, 0, 0)) {
        ++search->told;
    }
    return TRUE;
}

BOOL CALLBACK end_session_of(HWND window, LPARAM search_address) {
    auto* search = reinterpret_cast<WindowSearch*>(search_address);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->id) {
        return TRUE;
    }
    DWORD_PTR answer = 0;
    constexpr UINT kTimeoutMs = 10000;
    SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, kTimeoutMs,
                        &answer);
    // Windows waits for the answer and then ends the program; this helper
    // leaves at once, so that a test can go on while the program stops.
    if (SendNotifyMessageA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF)) {
        ++search->told;
    }
    return TRUE;
}

// Tells the target's top-level windows, by `tell`, what the action is.
int tell_windows(DWORD id, WNDENUMPROC tell) {
    WindowSearch search{id, 0};
    EnumWindows(tell, reinterpret_cast<LPARAM>(&search));
    if (search.told == 0) {
        std::fprintf(stderr, "console_event: process %lu has no top-level window\n", id);
        return 2;
    }
    return 0;
}

// Polls the window list until the target has a top-level window, then closes
// what it finds, in the same pass.
int close_at_first_window(const char* name) {
    const DWORD id = wait_for_process(name, kFirstWindowWaitMs);
    if (id == 0) {
        return 1;
    }
    const DWORD start = GetTickCount();
    WindowSearch search{id, 0};
    while (search.told == 0) {
        if (GetTickCount() - start > kFirstWindowWaitMs) {
            std::fprintf(stderr, "console_event: process %lu made no top-level window\n", id);
            return 2;
        }
        EnumWindows(close_of, reinterpret_cast<LPARAM>(&search));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: console_event <process id | image name> end-session | first-close | "
                     "input-mode\n");
        return 1;
    }
    const char* what = argv[2];
    if (std::strcmp(what, "first-close") == 0) {
        return close_at_first_window(argv[1]);
    }
    const DWORD id = target_process(argv[1]);
    if (id == 0) {
        return 1;
    }
    if (std::strcmp(what, "end-session") == 0) {
        return tell_windows(id, end_session_of);
    }
    if (std::strcmp(what, "input-mode") == 0) {
        return print_input_mode(id);
    }
    std::fprintf(stderr, "console_event: unknown action %s\n", what);
    return 1;
}
