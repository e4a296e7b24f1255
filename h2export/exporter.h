// The follow loop: every maser's log is read as it grows, and its records go
// to the textfile and the line protocol.
#pragma once

#include "h2export/options.h"

// Runs until a stop is requested (exit code 0). Returns 1, with a message on
// standard error, when it cannot start.
int run_follow(const ExportOptions& options);
