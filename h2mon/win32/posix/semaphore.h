// Named semaphores, used by the port class only as markers whose existence
// means "this port is taken": not supported on this system.
#pragma once

#include "h2mon/win32/posix/types.h"

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);
