// The Windows interfaces the serial class is written against. On Windows these
// are the system's own headers; on Linux, the headers of h2mon/win32/posix
// declare the same names, implemented on POSIX calls with the results the
// program relies on.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <setupapi.h>
#else
#include "h2mon/win32/posix/types.h"
#include "h2mon/win32/posix/strings.h"
#include "h2mon/win32/posix/errors.h"
#include "h2mon/win32/posix/handles.h"
#include "h2mon/win32/posix/time.h"
#include "h2mon/win32/posix/comm.h"
#include "h2mon/win32/posix/setupapi.h"
#include "h2mon/win32/posix/semaphore.h"
#include "h2mon/win32/posix/findfile.h"
#endif
