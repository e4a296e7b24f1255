// Runs a program of the build (or any command) to its end, with what it
// printed. Linux only.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
    int exit_code = -1; // -1 when it did not end normally
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] a path or a command on PATH) with standard output and
// error collected through files in `scratch_dir`, for at most `seconds`.
ProgramRun run_program(const std::vector<std::string>& argv, const std::string& scratch_dir,
                       int seconds = 60);
