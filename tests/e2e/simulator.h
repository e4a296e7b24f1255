// h2sim, the maser simulator, run for a test: its line's device path and its
// exchange log.
#pragma once

#include "tests/support/process.h"

#include <string>
#include <vector>

namespace e2e {

class Simulator {
public:
    // Starts h2sim with `args` and its exchange log in `log_path`, and reads the
    // line's path from its first output line. False, with the reason, on failure.
    bool start(std::vector<std::string> args, const std::string& log_path, std::string& error);

    const std::string& path() const { return path_; }
    // Ends the simulator (SIGTERM) and returns its exchange log, one line per poll.
    std::vector<std::string> stop_and_read_log();

private:
    h2test::ChildProcess process_;
    std::string path_;
    std::string log_path_;
};

} // namespace e2e
