#include "tests/h2plot/run_program.h"

#include "tests/support/process.h"

#include <cstdlib>
#include <sys/wait.h>

ProgramRun run_program(const std::vector<std::string>& argv, const std::string& scratch_dir,
                       int seconds) {
    const std::string out_path = scratch_dir + "/run.out";
    const std::string err_path = scratch_dir + "/run.err";
    std::string command = "timeout " + std::to_string(seconds);
    for (const std::string& arg : argv) {
        command += " " + h2test::shell_quoted(arg);
    }
    command += " >" + h2test::shell_quoted(out_path) + " 2>" + h2test::shell_quoted(err_path) +
               " </dev/null";
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.exit_code = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = h2test::read_text_file(out_path);
    run.err = h2test::read_text_file(err_path);
    return run;
}
