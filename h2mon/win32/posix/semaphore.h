// Named semaphores, used by the program only as markers whose existence means
// "this port is taken". Closed with CloseHandle.
#pragma once

#include "h2mon/win32/posix/types.h"

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);
