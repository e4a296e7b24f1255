#include "h2mon/win32/device_path.h"

#include <algorithm>
#include <cstdio>

// Ports are opened in the device name space, "\\.\COM3", which also reaches
// ports numbered above 9. The path holds at most 63 characters; a longer one is
// refused rather than cut, since a cut name can name another port.
BOOL port_device_path(LPCSTR name, LPSTR path, DWORD size) {
    constexpr DWORD kDevicePathSize = 64;
    const DWORD room = std::min(size, kDevicePathSize);
    const int length = std::snprintf(path, room, "\\\\.\\%s", name);
    if (length < 0 || static_cast<DWORD>(length) >= room) {
        if (size > 0) {
            path[0] = '\0';
        }
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

BOOL port_device_exists(LPCSTR) {
    return FALSE;
}
