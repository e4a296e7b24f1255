// The program's console session: how a run is stopped in an orderly way.
//
// A key press on the console stops the run at the top of the next cycle. Beside
// it, what the system sends a program to end it (StopSignals: SIGINT, SIGTERM
// and SIGHUP on Linux; Ctrl-C, Ctrl-Break, closing the console window, the end
// of the session and taskkill on Windows) stops the run at once, out of the
// interval sleep, through the same orderly path: the port is restored and every
// record already written is kept. On Linux standard input is put in
// single-keystroke mode when it is a terminal.
#pragma once

#include <cstdint>

class StopSignals;

// Prepares the console for the run and takes the stop requests over. What it
// changes in the console is put back on every way out of the program. Called
// before any thread starts. On Linux a closed standard output no longer ends
// the program by a signal (SIGPIPE): the write fails instead, and the program
// sees it.
void console_session_begin();

// The stop requests the session took over; null before it began.
const StopSignals* session_stop_signals();

// True once a stop request has asked the run to end.
bool stop_requested();

// Sleeps for the given milliseconds; a stop request ends the sleep at once.
void interval_sleep(std::uint32_t milliseconds);

// Whether a key is waiting on the console; never blocks.
bool key_waiting();
// Takes one waiting key without echoing it, so that it does not reach whatever
// runs next in the console.
int take_key();

// False where standard output is a console that would show escape sequences as
// text (the legacy Windows console): console mode then leaves out its bold.
bool escape_sequences_shown();
