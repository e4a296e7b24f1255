#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace h2test {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

namespace {

// Waits until `fd` is readable or the deadline passes; true when readable
// (or at its end).
bool wait_readable(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, remaining_ms(deadline));
        if (ready >= 0 || errno != EINTR) {
            return ready > 0;
        }
    }
}

// Appends what `fd` has now to `text`; false at its end or on an error.
bool append_available(int fd, std::string& text) {
    char buffer[4096];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count <= 0) {
        return false;
    }
    text.append(buffer, static_cast<std::size_t>(count));
    return true;
}

void close_fd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    close_fd(stdin_);
    close_fd(stdout_);
    close_fd(stderr_);
}

bool ChildProcess::start(const std::vector<std::string>& argv, std::string& error) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        error = std::string("pipe2: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const int result = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    if (result != 0) {
        pid_ = -1;
        error = argv[0] + ": " + std::strerror(result);
        return false;
    }
    return true;
}

void ChildProcess::close_stdin() {
    close_fd(stdin_);
}

bool ChildProcess::read_stdout_line(std::string& line, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t end = stdout_buffer_.find('\n');
        if (end != std::string::npos) {
            line = stdout_buffer_.substr(0, end);
            stdout_buffer_.erase(0, end + 1);
            return true;
        }
        if (!wait_readable(stdout_, deadline) || !append_available(stdout_, stdout_buffer_)) {
            return false;
        }
    }
}

const std::string& ChildProcess::read_stderr(milliseconds timeout, const std::string& text) {
    const auto deadline = Clock::now() + timeout;
    while (text.empty() || stderr_text_.find(text) == std::string::npos) {
        if (!wait_readable(stderr_, deadline) || !append_available(stderr_, stderr_text_)) {
            break;
        }
    }
    return stderr_text_;
}

bool ChildProcess::signal(int number) {
    return pid_ > 0 && ::kill(pid_, number) == 0;
}

bool ChildProcess::wait_exit(int& status, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pid_ > 0) {
        int raw = 0;
        const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
            return true;
        }
        if (done < 0 || Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return false;
}

std::vector<Arrival> read_arrivals(int fd, std::size_t count, milliseconds quiet,
                                   milliseconds timeout) {
    std::vector<Arrival> arrivals;
    const auto deadline = Clock::now() + timeout;
    while (arrivals.size() < count) {
        auto until = deadline;
        if (!arrivals.empty()) {
            until = std::min(deadline, arrivals.back().when + quiet);
        }
        if (!wait_readable(fd, until)) {
            break;
        }
        unsigned char buffer[4096];
        const std::size_t wanted = std::min(sizeof buffer, count - arrivals.size());
        const ssize_t got = ::read(fd, buffer, wanted);
        if (got <= 0) {
            break;
        }
        const auto now = Clock::now();
        for (ssize_t i = 0; i < got; ++i) {
            arrivals.push_back({buffer[i], now});
        }
    }
    return arrivals;
}

std::vector<unsigned char> read_bytes(int fd, std::size_t count, milliseconds quiet,
                                      milliseconds timeout) {
    std::vector<unsigned char> bytes;
    for (const Arrival& arrival : read_arrivals(fd, count, quiet, timeout)) {
        bytes.push_back(arrival.byte);
    }
    return bytes;
}

bool write_all(int fd, const void* data, std::size_t count) {
    const char* next = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(fd, next, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        next += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "h2test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

std::string read_text_file(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool write_text_file(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

} // namespace h2test
