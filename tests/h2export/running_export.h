// h2export run as a program by the tests.
#pragma once

#include "tests/support/process.h"

#include <string>
#include <vector>

namespace h2export_test {

using h2test::ProgramRun;
using h2test::run_program;

// Runs h2export with `args` to its end (at most `timeout`).
ProgramRun run_h2export(const std::vector<std::string>& args,
                        h2test::milliseconds timeout = h2test::milliseconds(20000));

// Starts h2export with `args`; the child ends with the object.
void start_h2export(h2test::ChildProcess& child, const std::vector<std::string>& args);

} // namespace h2export_test
