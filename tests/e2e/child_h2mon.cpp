#include "tests/e2e/child_h2mon.h"

#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;
using h2test::remaining_ms;

void close_fd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Moves `fd` onto `target` in the forked child; async-signal-safe.
void move_to(int fd, int target) {
    if (fd != target) {
        dup2(fd, target);
    }
}

// In the forked child: a session of its own and, for Input::Terminal, the
// terminal as its controlling terminal and standard input. Only async-signal-safe
// calls: the test process may have other threads.
[[noreturn]] void become_h2mon(char* const* argv, char* const* envp, int in, const char* terminal,
                               int out, int err) {
    setsid();
    if (terminal != nullptr) {
        in = ::open(terminal, O_RDWR); // the first terminal a session leader opens is its own
        ioctl(in, TIOCSCTTY, 0);
    }
    move_to(in, STDIN_FILENO);
    move_to(out, STDOUT_FILENO);
    move_to(err, STDERR_FILENO);
    execve(argv[0], argv, envp);
    _exit(127);
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

} // namespace

ChildH2mon::~ChildH2mon() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (int* fd :
         {&stdin_, &child_stdin_, &stdout_, &stderr_, &terminal_master_, &terminal_slave_}) {
        close_fd(*fd);
    }
}

bool ChildH2mon::open_input(Input input, std::string& error) {
    switch (input) {
    case Input::Pipe: {
        int in[2];
        if (pipe2(in, O_CLOEXEC) != 0) {
            error = failure("pipe2");
            return false;
        }
        child_stdin_ = in[0];
        stdin_ = in[1];
        return true;
    }
    case Input::Null:
        child_stdin_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (child_stdin_ < 0) {
            error = failure("/dev/null");
            return false;
        }
        return true;
    case Input::Terminal:
        terminal_master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal_master_ < 0 || grantpt(terminal_master_) != 0 ||
            unlockpt(terminal_master_) != 0) {
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
    return false;
}

bool ChildH2mon::start(const std::vector<std::string>& argv,
                       const std::vector<std::string>& extra_env, Input input, std::string& error) {
    int out[2], err[2];
    if (!open_input(input, error)) {
        return false;
    }
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        error = failure("pipe2");
        return false;
    }
    // Everything the child needs is prepared before the fork: it may not allocate.
    std::vector<std::string> args = argv;
    std::vector<std::string> env = extra_env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        env.emplace_back(*entry);
    }
    const std::vector<char*> arg_pointers = pointers(args);
    const std::vector<char*> env_pointers = pointers(env);
    const char* terminal = input == Input::Terminal ? terminal_path_.c_str() : nullptr;

    pid_ = fork();
    if (pid_ == 0) {
        become_h2mon(arg_pointers.data(), env_pointers.data(), child_stdin_, terminal, out[1],
                     err[1]);
    }
    ::close(out[1]);
    ::close(err[1]);
    close_fd(child_stdin_);
    stdout_ = out[0];
    stderr_ = err[0];
    if (pid_ < 0) {
        error = failure("fork");
        return false;
    }
    return true;
}

bool ChildH2mon::pump(milliseconds wait) {
    pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
    if (stdout_ < 0 && stderr_ < 0) {
        return false;
    }
    if (::poll(fds, 2, static_cast<int>(wait.count())) <= 0) {
        return true;
    }
    std::string* texts[2] = {&output_, &error_output_};
    int* ends[2] = {&stdout_, &stderr_};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t count = ::read(*ends[i], buffer, sizeof buffer);
        if (count > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            close_fd(*ends[i]); // a closed descriptor is ignored by poll
        }
    }
    return true;
}

bool ChildH2mon::wait_for_output(const std::function<bool(const std::string&)>& done,
                                 milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done(output_)) {
        const int left = remaining_ms(deadline);
        if (left == 0 || !pump(milliseconds(left))) {
            return done(output_);
        }
    }
    return true;
}

const std::string& ChildH2mon::error_output() {
    while (stderr_ >= 0) {
        pollfd entry{stderr_, POLLIN, 0};
        if (::poll(&entry, 1, 0) <= 0) {
            break;
        }
        pump(milliseconds(0));
    }
    return error_output_;
}

bool ChildH2mon::press_key(char key) {
    const int fd = terminal_master_ >= 0 ? terminal_master_ : stdin_;
    return fd >= 0 && ::write(fd, &key, 1) == 1;
}

bool ChildH2mon::signal(int number) {
    return pid_ > 0 && ::kill(pid_, number) == 0;
}

bool ChildH2mon::reap() {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done != pid_) {
        return false;
    }
    pid_ = -1;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return true;
}

bool ChildH2mon::wait_exit(int& code, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    // The output is taken in while waiting: a child blocked on a full pipe never ends.
    while (pid_ > 0 && !reap()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        pump(milliseconds(5));
    }
    // What is left in the pipes; a process that inherited them (a runner's
    // server) may keep them open, hence the bound.
    const auto rest = Clock::now() + milliseconds(2000);
    while (pump(milliseconds(remaining_ms(rest))) && Clock::now() < rest) {
    }
    code = exit_code_;
    return true;
}

bool ChildH2mon::running() {
    return pid_ > 0 && !reap();
}

double ChildH2mon::cpu_seconds() {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name (which may hold spaces) start with the
    // state; user and system time, in clock ticks, are the 12th and 13th of them.
    const std::size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(name_end + 2));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i >= 12) {
            ticks += std::strtod(field.c_str(), nullptr);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace e2e
