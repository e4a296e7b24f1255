// The requests that end a program in order, owned in one place for every
// program of the project. On Linux: SIGINT, SIGTERM and SIGHUP. On Windows:
// Ctrl-C, Ctrl-Break, the console window closed, the system shutting down, the
// end of the user's session, and WM_CLOSE (taskkill without /F).
//
// A request is only noted: the program looks at it where it can stop without
// cutting work short. On Linux the signals are held back for the whole run, so
// no call is interrupted and no handler runs on any thread; a wait that a stop
// must end waits on fd() beside what it waits for. On Windows the system's
// events come on threads of their own; those that end the process once they
// are answered (the window closed, shutdown, the end of the session) are held
// until the program has ended in order, within the time Windows allows.
#pragma once

#include <chrono>
#include <string>

class StopSignals {
public:
    // Takes the requests over for the process; one object per program, made
    // before any other thread starts (on Linux threads started later inherit
    // the held-back signals; one started before would be ended by them).
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals();

    // False, with the reason, when the requests could not be taken over.
    bool ok(std::string& error) const;

    // True once a stop was requested.
    bool requested() const;

    // Waits until a stop is requested or `timeout` has passed; true when one was.
    bool wait(std::chrono::milliseconds timeout) const;

#ifndef _WIN32
    // A descriptor that is readable once a stop was requested, to wait on
    // beside others (poll).
    int fd() const {
        return fd_;
    }

private:
    int fd_ = -1;
    std::string error_;
#endif
};
