// The device list of the "Ports" setup class and the values behind each device:
// not supported on this system (every call fails with ERROR_NOT_SUPPORTED).
#pragma once

#include "h2mon/win32/posix/types.h"

BOOL SetupDiClassGuidsFromNameA(LPCSTR className, LPGUID classGuidList, DWORD classGuidListSize,
                                PDWORD requiredSize);
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                           PSP_DEVINFO_DATA deviceInfoData);
HKEY SetupDiOpenDevRegKey(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, DWORD scope,
                          DWORD hwProfile, DWORD keyType, REGSAM samDesired);
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                       DWORD property, PDWORD propertyRegDataType,
                                       PBYTE propertyBuffer, DWORD propertyBufferSize,
                                       PDWORD requiredSize);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegCloseKey(HKEY key);
