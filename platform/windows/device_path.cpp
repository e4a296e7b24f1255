#include "platform/device_path.h"

#include <algorithm>
#include <cstdio>

// Ports are opened in the device name space, "\\.\COM3", which also reaches
// ports numbered above 9. The path is limited to 63 characters and a NUL; a
// longer one is cut.
BOOL port_device_path(LPCSTR name, LPSTR path, DWORD size) {
    constexpr DWORD kDevicePathSize = 64;
    std::snprintf(path, std::min(size, kDevicePathSize), "\\\\.\\%s", name);
    return TRUE;
}
