#include "tests/h2export/running_export.h"

#include <gtest/gtest.h>

namespace h2export_test {

using std::chrono::milliseconds;

void start_h2export(h2test::ChildProcess& child, const std::vector<std::string>& args) {
    std::vector<std::string> argv{H2EXPORT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    ASSERT_TRUE(child.start(argv, error)) << error;
}

Finished run_program(const std::vector<std::string>& argv, const std::string& input,
                     milliseconds timeout) {
    h2test::ChildProcess child;
    Finished finished;
    std::string error;
    if (!child.start(argv, error)) {
        ADD_FAILURE() << error;
        return finished;
    }
    h2test::write_all(child.stdin_fd(), input.data(), input.size());
    child.close_stdin();
    std::string line;
    while (child.read_stdout_line(line, timeout)) {
        finished.out += line + "\n";
    }
    finished.err = child.read_stderr(milliseconds(100));
    EXPECT_TRUE(child.wait_exit(finished.status, timeout)) << argv[0];
    return finished;
}

Finished run_h2export(const std::vector<std::string>& args) {
    std::vector<std::string> argv{H2EXPORT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv);
}

} // namespace h2export_test
