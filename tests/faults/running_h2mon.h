// h2mon started from its binary for long runs: its standard output is taken line
// by line as it comes, so that the program never waits on a full pipe and the
// test never holds more than it keeps.
#pragma once

#include "tests/support/process.h"

#include <chrono>
#include <string>
#include <vector>

namespace faults {

using std::chrono::milliseconds;

// How long to wait for what should happen at once on an idle machine: generous,
// for a loaded one.
constexpr milliseconds kPrompt{5000};

class RunningH2mon {
public:
    // Starts h2mon with `args`; with a `runner` (a program and its options, such
    // as valgrind), starts that with h2mon and its arguments after it.
    explicit RunningH2mon(const std::vector<std::string>& args,
                          const std::vector<std::string>& runner = {});

    bool started() const { return started_; }
    const std::string& start_error() const { return error_; }
    pid_t pid() const { return process_.pid(); }

    // The next line of standard output; false when none comes within `timeout`.
    bool next_line(std::string& line, milliseconds timeout = kPrompt);
    // Every line printed during `duration`; stops early if h2mon ends.
    std::vector<std::string> lines_for(milliseconds duration);

    // Presses a key and waits for the exit; appends the lines printed up to it.
    // Returns the exit code, or -1 when h2mon did not end within `timeout`.
    int stop_with_key(std::vector<std::string>& lines, milliseconds timeout = kPrompt);

    // Ends h2mon at once, as `kill -9` does, and waits for it to end; false
    // when it does not end within `timeout`.
    bool kill(milliseconds timeout = kPrompt);

    // Standard error, once h2mon has ended.
    const std::string& error_output();

private:
    // Whether h2mon has ended; its exit code is kept.
    bool ended();

    h2test::ChildProcess process_;
    int exit_code_ = -1;
    bool ended_ = false;
    bool started_ = false;
    std::string error_;
};

// A whole number from the environment variable `name`, or `fallback` when it is
// not set: lets a developer run a test longer than the default.
int run_length(const char* name, int fallback);

} // namespace faults
