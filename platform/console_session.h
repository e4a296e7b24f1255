// The program's console session: how a run is stopped in an orderly way.
//
// On Windows a key press on the console is the only orderly stop, and nothing
// needs preparing. On Linux a key press works the same way (standard input is put
// in single-keystroke mode when it is a terminal), and SIGINT, SIGTERM and SIGHUP
// count as a key press, so that a supervisor or Ctrl-C ends the run through the
// same path: the port is restored and every record already written is kept.
#pragma once

#include "platform/win32.h"

// Prepares the console for the run: on Linux, installs the stop-signal handlers and
// puts a terminal on standard input into single-keystroke mode without echo,
// restored on every way out of the program.
void console_session_begin();

// Sleeps for the given milliseconds; on Linux a stop signal ends the sleep at once.
void interval_sleep(DWORD milliseconds);
