// The acquisition loop: poll the maser, read its telemetry frame, print a record
// per usable frame, wait for the reading interval; until a key is pressed.
#pragma once

#include "h2mon/output.h"
#include "h2mon/serial/comport.h"

#include <cstdio>

struct LoopSettings {
    const char* port_setting; // the /port value, named in error messages
    OutputForm form;
    int interval_ms;
    RecordOutput output;
    NoticeStream notices = stderr; // a maser that gives no frame, and frames again
};

// Runs the loop on an open port. Returns the exit code: 0 after a key press (or
// a stop signal), or once standard output's reader has gone away; 1 after a read
// or write error on the line (its message printed).
int acquisition_loop(COMPORT& port, const LoopSettings& settings);
