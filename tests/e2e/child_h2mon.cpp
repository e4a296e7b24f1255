#include "tests/e2e/child_h2mon.h"

#include "tests/support/process_stats.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;
using h2test::remaining_ms;

std::string failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

h2test::ChildInput child_input(Input input) {
    switch (input) {
    case Input::Null:
        return h2test::ChildInput::Null;
    case Input::Terminal:
        return h2test::ChildInput::Terminal;
    case Input::Pipe:
        break;
    }
    return h2test::ChildInput::Pipe;
}

} // namespace

ChildH2mon::~ChildH2mon() {
    for (int fd : {terminal_master_, terminal_slave_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool ChildH2mon::open_terminal(std::string& error) {
    terminal_master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal_master_ < 0 || grantpt(terminal_master_) != 0 || unlockpt(terminal_master_) != 0) {
        error = failure("posix_openpt");
        return false;
    }
    terminal_path_ = ptsname(terminal_master_);
    terminal_slave_ = ::open(terminal_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal_slave_ < 0 || tcgetattr(terminal_slave_, &terminal_at_start_) != 0) {
        error = failure(terminal_path_.c_str());
        return false;
    }
    return true;
}

bool ChildH2mon::start(const std::vector<std::string>& argv,
                       const std::vector<std::string>& extra_env, Input input, Output output,
                       std::string& error) {
    if (input == Input::Terminal && !open_terminal(error)) {
        return false;
    }
    h2test::ChildSetup setup;
    setup.input = child_input(input);
    setup.terminal = terminal_path_;
    setup.extra_env = extra_env;
    setup.own_session = true;
    if (output == Output::Pipe) {
        return process_.start(argv, setup, error);
    }
    // The shell puts standard output on the console's terminal and becomes the program.
    console_ = std::make_unique<PseudoTerminal>();
    std::vector<std::string> on_console = {"/bin/sh", "-c", "exec 1>\"$H2_CONSOLE\"; exec \"$@\"",
                                           "sh"};
    on_console.insert(on_console.end(), argv.begin(), argv.end());
    setup.extra_env.push_back("H2_CONSOLE=" + console_->path());
    return process_.start(on_console, setup, error);
}

const std::string& ChildH2mon::console_output() {
    if (console_ != nullptr) {
        // The terminal turns each line end into "\r\n" on its way out.
        for (const char c : console_->take_output()) {
            if (c != '\r') {
                console_text_ += c;
            }
        }
    }
    return console_text_;
}

bool ChildH2mon::hold_console(bool hold) {
    return console_ != nullptr && console_->hold_output(hold);
}

bool ChildH2mon::wait_for_output(const std::function<bool(const std::string&)>& done,
                                 milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done(output())) {
        const int left = remaining_ms(deadline);
        if (left == 0 || !process_.pump(milliseconds(left))) {
            return done(output());
        }
    }
    return true;
}

const std::string& ChildH2mon::error_output() {
    return process_.read_stderr(milliseconds(0));
}

bool ChildH2mon::press_key(char key) {
    const int fd = terminal_master_ >= 0 ? terminal_master_ : process_.stdin_fd();
    return fd >= 0 && ::write(fd, &key, 1) == 1;
}

bool ChildH2mon::send(StopEvent event) {
    switch (event) {
    case StopEvent::Interrupt:
        return process_.signal(SIGINT);
    case StopEvent::Terminate:
        return process_.signal(SIGTERM);
    case StopEvent::HangUp:
        return process_.signal(SIGHUP);
    case StopEvent::EndSession:
    case StopEvent::CloseWindow:
        break;
    }
    return false;
}

void ChildH2mon::close_output() {
    process_.close_stdout();
}

bool ChildH2mon::wait_exit(int& code, milliseconds timeout) {
    return process_.wait_exit(code, timeout);
}

double ChildH2mon::cpu_seconds() {
    h2test::ProcessStats stats;
    if (!h2test::read_process_stats(process_.pid(), stats)) {
        return -1;
    }
    return static_cast<double>(stats.cpu_ns) / 1e9;
}

} // namespace e2e
