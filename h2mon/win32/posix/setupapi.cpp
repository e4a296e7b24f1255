// The device list of the "Ports" setup class and the registry values behind it
// are not supported on this system: the port list is for Windows, and no
// program here lists ports. Each call fails with ERROR_NOT_SUPPORTED, so that
// the port class lists no port.
#include "h2mon/win32/posix/setupapi.h"
#include "h2mon/win32/posix/errors.h"

namespace {

BOOL not_supported() {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

} // namespace

BOOL SetupDiClassGuidsFromNameA(LPCSTR, LPGUID, DWORD, PDWORD requiredSize) {
    if (requiredSize != nullptr) {
        *requiredSize = 0;
    }
    return not_supported();
}

HDEVINFO SetupDiGetClassDevsA(const GUID*, LPCSTR, HWND, DWORD) {
    not_supported();
    return INVALID_HANDLE_VALUE;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO, DWORD, PSP_DEVINFO_DATA) {
    return not_supported();
}

HKEY SetupDiOpenDevRegKey(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM) {
    not_supported();
    return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD,
                                       PDWORD) {
    return not_supported();
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO) {
    return not_supported();
}

LSTATUS RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
    return ERROR_NOT_SUPPORTED;
}

LSTATUS RegCloseKey(HKEY) {
    return ERROR_NOT_SUPPORTED;
}
