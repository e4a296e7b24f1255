// Helpers for tests that run real programs: start one with pipes on its
// standard streams, read what it prints with deadlines, signal it, and wait
// for its exit with a deadline. Linux only.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace h2test {

using std::chrono::milliseconds;

// A child process whose standard input, output and error are pipes to the
// test. The destructor kills a child that is still running and reaps it.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts `argv[0]` (a path) with the remaining arguments.
    bool start(const std::vector<std::string>& argv, std::string& error);

    pid_t pid() const { return pid_; }
    int stdin_fd() const { return stdin_; }
    void close_stdin();

    // The next line of standard output without its line end; false when none
    // is complete within `timeout` or the output ended.
    bool read_stdout_line(std::string& line, milliseconds timeout);

    // Standard error as received so far, after reading for at most `timeout`
    // or until it contains `text` (empty: read for the whole timeout or to
    // its end).
    const std::string& read_stderr(milliseconds timeout, const std::string& text = "");

    bool signal(int number);

    // Waits for the child to end. On true, `status` is its exit code, or
    // -(signal number) when a signal ended it.
    bool wait_exit(int& status, milliseconds timeout);

    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
    std::string stdout_buffer_;
    std::string stderr_text_;
};

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
bool write_text_file(const std::string& path, const std::string& text);

} // namespace h2test
