#include "tests/export/running_export.h"

#include <gtest/gtest.h>

namespace h2export_test {

using std::chrono::milliseconds;

void start_h2export(h2test::ChildProcess& child, const std::vector<std::string>& args) {
    std::vector<std::string> argv{H2EXPORT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    ASSERT_TRUE(child.start(argv, error)) << error;
}

Finished run_h2export(const std::vector<std::string>& args) {
    h2test::ChildProcess child;
    start_h2export(child, args);
    Finished finished;
    std::string line;
    while (child.read_stdout_line(line, milliseconds(5000))) {
        finished.out += line + "\n";
    }
    finished.err = child.read_stderr(milliseconds(100));
    EXPECT_TRUE(child.wait_exit(finished.status, milliseconds(5000)));
    return finished;
}

} // namespace h2export_test
