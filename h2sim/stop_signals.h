// The signals that stop the simulator, delivered as a readable descriptor so
// that the main loop sees them in the same wait as the line.
#pragma once

#include <string>

// Blocks SIGINT, SIGTERM and SIGHUP and returns a descriptor that becomes
// readable when one of them arrives; -1 with the reason in `error` on failure.
int open_stop_signals(std::string& error);
