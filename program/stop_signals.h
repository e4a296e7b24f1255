// The requests that end a program in order: SIGINT, SIGTERM and SIGHUP on
// Linux; Ctrl-C and Ctrl-Break on Windows. A request is only noted: the
// program looks at it where it can stop without cutting work short (the
// signals are held back, so no call is interrupted and no handler runs
// inside the work).
#pragma once

#include <string>

class StopSignals {
public:
    // Takes the requests over for the process; one object per program, made
    // before any thread starts.
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals();

    // False, with the reason, when the requests could not be taken over.
    bool ok(std::string& error) const;

    // True once a stop was requested.
    bool requested() const;

#ifndef _WIN32
    // A descriptor that is readable once a stop was requested, to wait on
    // beside others (poll).
    int fd() const {
        return fd_;
    }
#endif

private:
#ifndef _WIN32
    int fd_ = -1;
    std::string error_;
#endif
};
