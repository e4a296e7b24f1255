#include "tests/support/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

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

void close_fd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// How long output is still taken in after a child has ended.
constexpr milliseconds kOutputAfterExit{2000};

// A pipe whose ends are closed with it unless taken.
struct Pipe {
    int read_end = -1;
    int write_end = -1;

    Pipe() = default;
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() {
        close_fd(read_end);
        close_fd(write_end);
    }

    bool open(std::string& error) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            error = failure("pipe2");
            return false;
        }
        read_end = ends[0];
        write_end = ends[1];
        return true;
    }
    int take_read_end() { return std::exchange(read_end, -1); }
    int take_write_end() { return std::exchange(write_end, -1); }
    void close_write_end() { close_fd(write_end); }
};

// What the forked child makes its standard streams, and where it reports a
// failed exec.
struct ChildEnds {
    int input;            // -1: with `terminal`
    const char* terminal; // null: no terminal
    int output;
    int error_output;
    int exec_failure;
    bool own_session;
};

// Moves `fd` onto `target` in the forked child; async-signal-safe.
void move_to(int fd, int target) {
    if (fd != target) {
        dup2(fd, target);
    }
}

// In the forked child, with async-signal-safe calls only: the first terminal a
// session leader opens becomes its controlling terminal.
[[noreturn]] void become(char* const* argv, char* const* envp, const ChildEnds& ends) {
    if (ends.own_session) {
        setsid();
    }
    int input = ends.input;
    if (ends.terminal != nullptr) {
        input = ::open(ends.terminal, O_RDWR);
        ioctl(input, TIOCSCTTY, 0);
    }
    move_to(input, STDIN_FILENO);
    move_to(ends.output, STDOUT_FILENO);
    move_to(ends.error_output, STDERR_FILENO);
    execve(argv[0], argv, envp);
    const int error = errno;
    (void)!::write(ends.exec_failure, &error, sizeof error);
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
    return start(argv, ChildSetup{}, error);
}

bool ChildProcess::start(const std::vector<std::string>& argv, const ChildSetup& setup,
                         std::string& error) {
    Pipe in, out, err, exec_failure;
    int input = -1;
    if (setup.input == ChildInput::Pipe) {
        if (!in.open(error)) {
            return false;
        }
        input = in.read_end;
    } else if (setup.input == ChildInput::Null) {
        in.read_end = input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (input < 0) {
            error = failure("/dev/null");
            return false;
        }
    }
    if (!out.open(error) || !err.open(error) || !exec_failure.open(error)) {
        return false;
    }
    // Everything the child needs is made before the fork: the test process may
    // have other threads, so the child may only make async-signal-safe calls.
    std::vector<std::string> args = argv;
    std::vector<std::string> env = setup.extra_env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        env.emplace_back(*entry);
    }
    const std::vector<char*> arg_pointers = pointers(args);
    const std::vector<char*> env_pointers = pointers(env);
    const bool terminal = setup.input == ChildInput::Terminal;
    const ChildEnds ends{input,
                         terminal ? setup.terminal.c_str() : nullptr,
                         out.write_end,
                         err.write_end,
                         exec_failure.write_end,
                         setup.own_session || terminal};

    pid_ = ::fork();
    if (pid_ == 0) {
        become(arg_pointers.data(), env_pointers.data(), ends);
    }
    if (pid_ < 0) {
        error = failure("fork");
        return false;
    }
    stdin_ = in.take_write_end();
    stdout_ = out.take_read_end();
    stderr_ = err.take_read_end();
    exec_failure.close_write_end();
    int exec_error = 0;
    if (::read(exec_failure.read_end, &exec_error, sizeof exec_error) == sizeof exec_error) {
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        error = argv[0] + ": " + std::strerror(exec_error);
        return false;
    }
    return true;
}

void ChildProcess::close_stdin() {
    close_fd(stdin_);
}

void ChildProcess::close_stdout() {
    close_fd(stdout_);
}

bool ChildProcess::pump(milliseconds wait) {
    if (stdout_ < 0 && stderr_ < 0) {
        return false;
    }
    pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(wait.count())) <= 0) {
        return true;
    }
    std::string* texts[2] = {&stdout_text_, &stderr_text_};
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

bool ChildProcess::read_stdout_line(std::string& line, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t end = stdout_text_.find('\n');
        if (end != std::string::npos) {
            line = stdout_text_.substr(0, end);
            stdout_text_.erase(0, end + 1);
            return true;
        }
        if (stdout_ < 0 || !pump_until(deadline, stdout_text_)) {
            return false;
        }
    }
}

const std::string& ChildProcess::read_stderr(milliseconds timeout, const std::string& text) {
    const auto deadline = Clock::now() + timeout;
    while (text.empty() || stderr_text_.find(text) == std::string::npos) {
        if (stderr_ < 0 || !pump_until(deadline, stderr_text_)) {
            break;
        }
    }
    return stderr_text_;
}

bool ChildProcess::pump_until(std::chrono::steady_clock::time_point deadline,
                              const std::string& text) {
    const std::size_t before = text.size();
    const int left = remaining_ms(deadline);
    pump(milliseconds(left));
    return left > 0 || text.size() != before;
}

bool ChildProcess::signal(int number) {
    return pid_ > 0 && ::kill(pid_, number) == 0;
}

std::size_t ChildProcess::stdout_unread() const {
    int bytes = 0;
    return stdout_ >= 0 && ::ioctl(stdout_, FIONREAD, &bytes) == 0 ? static_cast<std::size_t>(bytes)
                                                                   : 0;
}

bool ChildProcess::reap() {
    int raw = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &raw, WNOHANG) != pid_) {
        return false;
    }
    pid_ = -1;
    exit_status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    return true;
}

bool ChildProcess::running() {
    return pid_ > 0 && !reap();
}

bool ChildProcess::wait_exit(int& status, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (running()) {
        const int left = remaining_ms(deadline);
        if (left == 0) {
            return false;
        }
        // With both pipes ended, pump returns at once: sleep instead.
        if (!pump(milliseconds(std::min(left, 5)))) {
            std::this_thread::sleep_for(milliseconds(std::min(left, 5)));
        }
    }
    // What is left in the pipes; a process that inherited them (a runner's
    // server) may keep them open, hence the bound.
    const auto rest = Clock::now() + kOutputAfterExit;
    while (remaining_ms(rest) > 0 && pump(milliseconds(remaining_ms(rest)))) {
    }
    status = exit_status_;
    return true;
}

ProgramRun run_program(const std::vector<std::string>& argv, const std::string& input,
                       milliseconds timeout) {
    ProgramRun run;
    ChildProcess child;
    std::string error;
    if (!child.start(argv, error)) {
        run.err = error;
        return run;
    }
    // Written whole before the output is read: for inputs that fit a pipe.
    write_all(child.stdin_fd(), input.data(), input.size());
    child.close_stdin();
    int status = 0;
    if (child.wait_exit(status, timeout)) {
        run.exit_code = status;
    }
    run.out = child.stdout_text();
    run.err = child.read_stderr(milliseconds(0));
    return run;
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

std::string shell_quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

} // namespace h2test
