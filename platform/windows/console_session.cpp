#include "platform/console_session.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

// The console's own key handling needs nothing prepared. A console that shows
// escape sequences as text until asked (the classic Windows console) is asked to
// interpret them, so that console mode's bold hexadecimal values show as bold
// instead of as stray characters. Redirected output is left alone.
void console_session_begin() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

void interval_sleep(DWORD milliseconds) {
    Sleep(milliseconds);
}
