// Writing to an output whose reader may stop taking anything (a pipe into a
// program that hangs) without holding off a stop request: a service manager
// that stops the program must not have to kill it.
#pragma once

#include "program/stop_signals.h"

#include <cstdio>
#include <string>
#include <string_view>

enum class WriteEnd {
    kWritten, // all of it
    kStopped, // a stop was requested before all of it could go out
    kFailed,  // the system's reason is in `error`
};

// Writes `bytes` to `file` and flushes it. A stop ends a wait for a reader that
// takes nothing (one that takes what comes gets all of it); what was written
// by then stays written, so a line can be cut short. Without
// `stops` (null) the write waits for the reader as long as it takes. On
// kFailed, `error_number` (when given) receives the system's error number.
WriteEnd write_unless_stopped(std::FILE* file, std::string_view bytes, const StopSignals* stops,
                              std::string& error, int* error_number = nullptr);
