#include "h2mon/win32/calls.h"

namespace {

// Null while the system's own table is in use. A plain pointer with a constant
// initialiser, so that it is valid before any dynamic initialisation runs.
const PlatformCalls* installed = nullptr;

} // namespace

const PlatformCalls& system_platform_calls() {
    // Built on first use: the addresses of functions imported from system DLLs are
    // only known at run time, and a program-wide object may use the table during
    // static initialisation.
    static const PlatformCalls calls = {
        ::CreateFileA,
        ::port_device_exists,
        ::CloseHandle,
        ::ReadFile,
        ::WriteFile,
        ::GetCommState,
        ::SetCommState,
        ::BuildCommDCBA,
        ::SetCommTimeouts,
        ::PurgeComm,
        ::EscapeCommFunction,
        ::port_hold_back_ms,
        ::GetLastError,
        ::FormatMessageA,
        ::LocalFree,
        ::Sleep,
        ::timeGetTime,
        ::SetupDiClassGuidsFromNameA,
        ::SetupDiGetClassDevsA,
        ::SetupDiEnumDeviceInfo,
        ::SetupDiOpenDevRegKey,
        ::SetupDiGetDeviceRegistryPropertyA,
        ::SetupDiDestroyDeviceInfoList,
        ::RegQueryValueExA,
        ::RegCloseKey,
        ::CreateSemaphoreA,
    };
    return calls;
}

const PlatformCalls& platform_calls() {
    return installed != nullptr ? *installed : system_platform_calls();
}

void install_platform_calls(const PlatformCalls& calls) {
    installed = &calls;
}

void restore_platform_calls() {
    installed = nullptr;
}
