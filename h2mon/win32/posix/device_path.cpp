#include "h2mon/win32/device_path.h"
#include "h2mon/win32/posix/errno_map.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

// A name that begins with "/" is a device path already; any other name ("COM3",
// "ttyUSB0") is looked up under /dev, where CreateFileA also resolves COM names.
// A path that does not fit is refused rather than cut, since a cut path can name
// another device.
BOOL port_device_path(LPCSTR name, LPSTR path, DWORD size) {
    const char* directory = name[0] == '/' ? "" : "/dev/";
    const int length = std::snprintf(path, size, "%s%s", directory, name);
    if (length < 0 || static_cast<DWORD>(length) >= size) {
        if (size > 0) {
            path[0] = '\0';
        }
        set_last_error_from_errno(ENAMETOOLONG);
        return FALSE;
    }
    return TRUE;
}

BOOL port_device_exists(LPCSTR name) {
    char path[MAX_PATH];
    struct stat status {};
    return port_device_path(name, path, sizeof path) && stat(path, &status) == 0;
}
