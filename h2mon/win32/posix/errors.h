// The calling thread's last error number and its text.
#pragma once

#include <cstdarg>

#include "h2mon/win32/posix/types.h"

DWORD GetLastError();
void SetLastError(DWORD error);
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);
HLOCAL LocalFree(HLOCAL memory);
