// How the Linux stand-ins report failures: errno values become Windows error
// numbers, so that code written against GetLastError sees the numbers it tests for.
//
//   ENOENT            -> ERROR_FILE_NOT_FOUND (2)
//   EBUSY, EWOULDBLOCK -> ERROR_ACCESS_DENIED (5)   (a device held by another opener)
//   ENOMEM            -> ERROR_NOT_ENOUGH_MEMORY (8)
//   EOPNOTSUPP        -> ERROR_NOT_SUPPORTED (50)     (what this system does not do)
//   EINVAL            -> ERROR_INVALID_PARAMETER (87)
//   EEXIST            -> ERROR_ALREADY_EXISTS (183)
//   ETIMEDOUT         -> ERROR_TIMEOUT (1460)
//   any other errno   -> LINUX_ERRNO_FLAG | errno
//
// LINUX_ERRNO_FLAG is bit 29, which Windows reserves for application-defined
// error numbers, so these never collide with a system number. FormatMessageA
// gives the system's text (strerror) for every number produced here.
#pragma once

#include "h2mon/win32/posix/types.h"

#define LINUX_ERRNO_FLAG 0x20000000u

// The Windows error number that stands for an errno value (0 for 0).
DWORD win32_error_from_errno(int error);
// The errno value whose text describes a Windows error number, or 0 when the
// number has no text on this system.
int errno_from_win32_error(DWORD error);
// SetLastError(win32_error_from_errno(error)).
void set_last_error_from_errno(int error);
