// Named semaphores, which the port class uses only as in-use markers of ports,
// are not supported on this system: no program here marks a port (h2mon keeps
// others off its port with a lock of the device itself). CreateSemaphoreA fails
// with ERROR_NOT_SUPPORTED, which the port class reads as a port not taken.
#include "h2mon/win32/posix/semaphore.h"
#include "h2mon/win32/posix/errors.h"

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCSTR) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}
