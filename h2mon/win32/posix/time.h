// Clocks and sleeping.
#pragma once

#include "h2mon/win32/posix/types.h"

// Blocks the calling thread for the given number of milliseconds.
void Sleep(DWORD milliseconds);
// Milliseconds from a fixed origin, in 32 bits that wrap.
DWORD timeGetTime();
// The current UTC time, split into calendar fields.
void GetSystemTime(LPSYSTEMTIME time);
