// Helpers for tests that run real programs: start one with pipes on its
// standard output and error, read what it prints with deadlines, signal it, and
// wait for its exit with a deadline. Linux only.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace h2test {

using std::chrono::milliseconds;

// What a child's standard input is.
enum class ChildInput {
    Pipe,     // a pipe from the test: stdin_fd()
    Null,     // /dev/null: at its end from the start
    Terminal, // ChildSetup::terminal, which also becomes its controlling terminal
};

// How a child is started beyond its arguments.
struct ChildSetup {
    ChildInput input = ChildInput::Pipe;
    std::string terminal;               // ChildInput::Terminal: the device (a pseudo-terminal)
    std::vector<std::string> extra_env; // "NAME=value", added to the test's own environment
    // A session of its own: no controlling terminal (unless given one), so a
    // developer's Ctrl-C does not reach it. Implied by ChildInput::Terminal.
    bool own_session = false;
};

// The one way tests start a program: a child process whose standard output and
// error are pipes to the test. The destructor kills a child that is still
// running and reaps it.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts `argv[0]` (a path) with the remaining arguments. False, with the
    // reason in `error`, when it cannot be started.
    bool start(const std::vector<std::string>& argv, std::string& error);
    bool start(const std::vector<std::string>& argv, const ChildSetup& setup, std::string& error);

    pid_t pid() const { return pid_; }
    // ChildInput::Pipe: the test's end of the child's standard input.
    int stdin_fd() const { return stdin_; }
    // The test's end of the child's standard output (to size its pipe, say).
    int stdout_fd() const { return stdout_; }
    void close_stdin();
    // The reader of standard output goes away: the test's end of the pipe is
    // closed, and the child's next write to it fails (EPIPE, or SIGPIPE).
    void close_stdout();

    // Takes in what standard output and error hold, waiting at most `wait` for
    // something; false once both have ended.
    bool pump(milliseconds wait);
    // Standard output received and not yet taken by read_stdout_line.
    const std::string& stdout_text() const { return stdout_text_; }

    // The next line of standard output without its line end; false when none
    // is complete within `timeout` or the output ended.
    bool read_stdout_line(std::string& line, milliseconds timeout);

    // Standard error as received so far, after reading for at most `timeout`
    // or until it contains `text` (empty: read for the whole timeout or to
    // its end).
    const std::string& read_stderr(milliseconds timeout, const std::string& text = "");

    bool signal(int number);

    // Bytes the child wrote to standard output that the test has not taken in
    // (a pipe holds 64 KiB before a writer waits).
    std::size_t stdout_unread() const;

    // Waits for the child to end, taking in its output meanwhile (a child
    // blocked on a full pipe never ends), then what is left in the pipes. On
    // true, `status` is its exit code, or -(signal number) when a signal ended it.
    bool wait_exit(int& status, milliseconds timeout);

    // Whether the child has not ended yet; an ended child is reaped.
    bool running();

private:
    // Pumps once, waiting until `deadline` at most; false once the deadline has
    // passed and `text` (one of the received texts) got nothing more.
    bool pump_until(std::chrono::steady_clock::time_point deadline, const std::string& text);
    bool reap();

    pid_t pid_ = -1;
    int exit_status_ = 0;
    int stdin_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
    std::string stdout_text_;
    std::string stderr_text_;
};

// What a program run to its end printed, and how it ended.
struct ProgramRun {
    int exit_code = -1000; // or -(signal number); -1000 when it did not end in time
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] a path) to its end, at most `timeout`, with `input` on
// its standard input; a program still running then is killed.
ProgramRun run_program(const std::vector<std::string>& argv, const std::string& input = "",
                       milliseconds timeout = milliseconds(20000));

// A byte and when it arrived.
struct Arrival {
    unsigned char byte;
    std::chrono::steady_clock::time_point when;
};

// Reads from `fd` until `count` bytes have come, `quiet` has passed without a
// byte once at least one came, `timeout` has passed in all, or the descriptor
// reports an end or an error. Returns what arrived, with arrival times.
std::vector<Arrival> read_arrivals(int fd, std::size_t count, milliseconds quiet,
                                   milliseconds timeout);

// The bytes of read_arrivals.
std::vector<unsigned char> read_bytes(int fd, std::size_t count, milliseconds quiet,
                                      milliseconds timeout);

bool write_all(int fd, const void* data, std::size_t count);

// Whole milliseconds left until `deadline`; 0 once it has passed.
int remaining_ms(std::chrono::steady_clock::time_point deadline);

// A fresh directory under the system's temporary directory, removed with
// everything in it by the destructor.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_text_file(const std::string& path);

// `text` quoted for the shell, as one word.
std::string shell_quoted(const std::string& text);
bool write_text_file(const std::string& path, const std::string& text);

} // namespace h2test
