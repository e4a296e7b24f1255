#include "platform/session.h"

void console_session_begin() {}

void interval_sleep(DWORD milliseconds) {
    Sleep(milliseconds);
}
