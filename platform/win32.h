// The Windows interfaces h2mon is written against. On Windows these are the
// system's own headers; on Linux, platform/linux provides the same names with the
// results the program relies on.
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
#include <conio.h>
#else
#include "platform/linux/types.h"
#include "platform/linux/strings.h"
#include "platform/linux/errors.h"
#include "platform/linux/handles.h"
#include "platform/linux/time.h"
#include "platform/linux/comm.h"
#include "platform/linux/setupapi.h"
#include "platform/linux/semaphore.h"
#include "platform/linux/findfile.h"
#include "platform/linux/console.h"
#endif
