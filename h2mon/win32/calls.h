// The system calls the serial port class makes, gathered in one replaceable table.
//
// Production code calls through platform_calls(), which by default holds the
// system's own functions (on Linux, the stand-ins of h2mon/win32/posix). A test can
// install a table of its own to watch the exact sequence of calls with their
// arguments, to make any call fail, or to run the millisecond clock from a value
// of its choosing, and then put the system table back.
#pragma once

#include "h2mon/win32/device_path.h"
#include "h2mon/win32/hold_back.h"
#include "h2mon/win32/win32.h"

struct PlatformCalls {
    // Serial communications
    decltype(&::CreateFileA) CreateFileA;
    decltype(&::port_device_exists) port_device_exists;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::ReadFile) ReadFile;
    decltype(&::WriteFile) WriteFile;
    decltype(&::GetCommState) GetCommState;
    decltype(&::SetCommState) SetCommState;
    decltype(&::BuildCommDCBA) BuildCommDCBA;
    decltype(&::SetCommTimeouts) SetCommTimeouts;
    decltype(&::PurgeComm) PurgeComm;
    decltype(&::EscapeCommFunction) EscapeCommFunction;
    decltype(&::port_hold_back_ms) port_hold_back_ms;

    // Errors, their texts, time
    decltype(&::GetLastError) GetLastError;
    decltype(&::FormatMessageA) FormatMessageA;
    decltype(&::LocalFree) LocalFree;
    decltype(&::Sleep) Sleep;
    decltype(&::timeGetTime) timeGetTime;

    // The device list and the in-use markers
    decltype(&::SetupDiClassGuidsFromNameA) SetupDiClassGuidsFromNameA;
    decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA;
    decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo;
    decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey;
    decltype(&::SetupDiGetDeviceRegistryPropertyA) SetupDiGetDeviceRegistryPropertyA;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
    decltype(&::RegQueryValueExA) RegQueryValueExA;
    decltype(&::RegCloseKey) RegCloseKey;
    decltype(&::CreateSemaphoreA) CreateSemaphoreA;
};

// The table in use.
const PlatformCalls& platform_calls();

// The table of the system's own functions.
const PlatformCalls& system_platform_calls();

// Makes `calls` the table in use until the next install or restore. The table is
// not copied: it must stay alive while installed. Not thread-safe: install only
// while no other thread is making calls through the table.
void install_platform_calls(const PlatformCalls& calls);

// Puts the system's own table back.
void restore_platform_calls();
