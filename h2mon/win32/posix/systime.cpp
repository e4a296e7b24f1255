#include "h2mon/win32/posix/time.h"

#include <ctime>

void GetSystemTime(LPSYSTEMTIME time) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm fields{};
    gmtime_r(&now.tv_sec, &fields);
    time->wYear = static_cast<WORD>(fields.tm_year + 1900);
    time->wMonth = static_cast<WORD>(fields.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(fields.tm_wday); // Sunday = 0, as on Windows
    time->wDay = static_cast<WORD>(fields.tm_mday);
    time->wHour = static_cast<WORD>(fields.tm_hour);
    time->wMinute = static_cast<WORD>(fields.tm_min);
    time->wSecond = static_cast<WORD>(fields.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}
