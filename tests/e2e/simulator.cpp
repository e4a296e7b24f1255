#include "tests/e2e/simulator.h"

#include <csignal>
#include <sstream>

namespace e2e {

bool Simulator::start(std::vector<std::string> args, const std::string& log_path,
                      std::string& error) {
    log_path_ = log_path;
    args.insert(args.begin(), {H2SIM_PATH, "--log", log_path});
    if (!process_.start(args, error)) {
        return false;
    }
    if (!process_.read_stdout_line(path_, std::chrono::seconds(5))) {
        error = "h2sim printed no line: " + process_.read_stderr(std::chrono::milliseconds(100));
        return false;
    }
    return true;
}

std::vector<std::string> Simulator::stop_and_read_log() {
    process_.signal(SIGTERM);
    int status = 0;
    process_.wait_exit(status, std::chrono::seconds(5));
    std::istringstream text(h2test::read_text_file(log_path_));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace e2e
