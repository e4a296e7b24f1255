// The follow loop: every maser's log is read as it grows, and its records go
// to the textfile and the line protocol.
#pragma once

#include "export/options.h"

// Runs until the process is stopped. Returns an exit code when it cannot
// start (1, with a message on standard error).
int run_follow(const ExportOptions& options);
