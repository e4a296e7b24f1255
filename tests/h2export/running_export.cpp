#include "tests/h2export/running_export.h"

#include <gtest/gtest.h>

namespace h2export_test {

void start_h2export(h2test::ChildProcess& child, const std::vector<std::string>& args) {
    std::vector<std::string> argv{H2EXPORT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    ASSERT_TRUE(child.start(argv, error)) << error;
}

ProgramRun run_h2export(const std::vector<std::string>& args, h2test::milliseconds timeout) {
    std::vector<std::string> argv{H2EXPORT_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, "", timeout);
}

} // namespace h2export_test
