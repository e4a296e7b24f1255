#include "tests/faults/running_h2mon.h"

#include <csignal>
#include <cstdlib>

namespace faults {

RunningH2mon::RunningH2mon(const std::vector<std::string>& args,
                           const std::vector<std::string>& runner) {
    std::vector<std::string> argv = runner;
    argv.push_back(H2MON_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    // A program that has ended must not end the test through its closed stdin.
    std::signal(SIGPIPE, SIG_IGN);
    started_ = process_.start(argv, error_);
}

bool RunningH2mon::next_line(std::string& line, milliseconds timeout) {
    return process_.read_stdout_line(line, timeout);
}

bool RunningH2mon::ended() {
    ended_ = ended_ || process_.wait_exit(exit_code_, milliseconds(0));
    return ended_;
}

bool RunningH2mon::kill(milliseconds timeout) {
    ended_ = ended_ || (process_.signal(SIGKILL) && process_.wait_exit(exit_code_, timeout));
    return ended_;
}

std::vector<std::string> RunningH2mon::lines_for(milliseconds duration) {
    std::vector<std::string> lines;
    const auto end = std::chrono::steady_clock::now() + duration;
    std::string line;
    while (std::chrono::steady_clock::now() < end) {
        if (next_line(line, milliseconds(200))) {
            lines.push_back(line);
        } else if (ended()) {
            break;
        }
    }
    return lines;
}

int RunningH2mon::stop_with_key(std::vector<std::string>& lines, milliseconds timeout) {
    const char key = 'q';
    if (!ended() && !h2test::write_all(process_.stdin_fd(), &key, 1)) {
        return -1;
    }
    // Keep taking the output while the program finishes its cycle.
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::string line;
    while (!ended()) {
        if (std::chrono::steady_clock::now() >= end) {
            return -1;
        }
        if (next_line(line, milliseconds(50))) {
            lines.push_back(line);
        }
    }
    while (next_line(line, milliseconds(100))) {
        lines.push_back(line);
    }
    return exit_code_;
}

const std::string& RunningH2mon::error_output() {
    return process_.read_stderr(milliseconds(500));
}

int run_length(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

} // namespace faults
