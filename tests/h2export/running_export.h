// h2export run as a program by the tests.
#pragma once

#include "tests/support/process.h"

#include <string>
#include <vector>

namespace h2export_test {

struct Finished {
    int status = -1000; // exit code, or -(signal)
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] a path) to its end, at most `timeout`, with `input`
// on its standard input.
Finished run_program(const std::vector<std::string>& argv, const std::string& input = "",
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Runs h2export with `args` to its end (at most a few seconds).
Finished run_h2export(const std::vector<std::string>& args);

// Starts h2export with `args`; the child ends with the object.
void start_h2export(h2test::ChildProcess& child, const std::vector<std::string>& args);

} // namespace h2export_test
