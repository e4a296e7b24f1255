// The command line of a companion program (h2export, h2plot) over CLI11:
// --help and --version print to standard output and end with kExitDone; a bad
// command line says what is wrong, naming the option, on standard error and
// ends with kExitUsage.
#pragma once

#include "program/exit_code.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <ostream>

// Sets up `app` for a program named `program`: --version prints
// "PROGRAM VERSION", and "/name" is a path, not an option, on Windows too.
void set_up_command_line(CLI::App& app, const char* program);

// Parses the command line into the options bound to `app`, then runs
// `check` (rules across options; it throws CLI::ValidationError). Returns the
// exit code when the program is not to run.
//
// Every option takes one value each time it is given: a list is one argument
// ("--channels A,B", with a delimiter set), and an option given again adds
// to it; so what follows an option's value is the program's own (a log named
// after --channels Ion_uA is a log). --help shows each option with the one
// placeholder of its type_name() and its default, if one is set to show.
std::optional<int> parse_command_line(CLI::App& app, int argc, const char* const* argv,
                                      std::ostream& out, std::ostream& err,
                                      const std::function<void()>& check);
