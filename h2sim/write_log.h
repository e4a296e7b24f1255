// h2sim --write-log: a simulated log written to a file or standard output,
// with progress on standard error when it takes a while.
#pragma once

#include "h2sim/options.h"

#include <string>

// Writes the log the options ask for. Returns false with `error` set when the
// file cannot be written.
bool write_simulated_log(const Options& options, std::string& error);
