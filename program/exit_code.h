// How h2export, h2plot and h2sim end (h2mon keeps the exit codes of its own
// usage: 0 stopped, 1 anything else).
#pragma once

enum ExitCode : int {
    kExitDone = 0,   // done, or --help and --version
    kExitFailed = 1, // the work failed, or was done only in part
    kExitUsage = 2,  // a bad command line
};
