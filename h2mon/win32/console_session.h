// The program's console session: how a run is stopped in an orderly way.
//
// A key press on the console stops the run at the top of the next cycle. Beside
// it, what the system sends a program to end it stops the run at once, out of
// the interval sleep, through the same orderly path: the port is restored and
// every record already written is kept. On Linux these are SIGINT, SIGTERM and
// SIGHUP (standard input is put in single-keystroke mode when it is a terminal).
// On Windows they are Ctrl-C, Ctrl-Break, closing the console window, and the end
// of the session (logging off, shutting down).
#pragma once

#include "h2mon/win32/win32.h"

// Prepares the console for the run and installs the stop handlers. What it
// changes in the console is put back on every way out of the program. On Linux
// a closed standard output no longer ends the program by a signal (SIGPIPE):
// the write fails instead, and the program sees it.
void console_session_begin();

// True once a stop signal or event has asked the run to end.
bool stop_requested();

// Sleeps for the given milliseconds; a stop request ends the sleep at once.
void interval_sleep(DWORD milliseconds);

// False where standard output is a console that would show escape sequences as
// text (the legacy Windows console): console mode then leaves out its bold.
bool escape_sequences_shown();
