// Code of the test run in a forked child process: a child that talks with the
// test through a pipe each way, and a body run to its exit status.
#pragma once

#include <functional>

#include <sys/types.h>

class ForkedChild {
public:
    // Forks; the child runs `body` with this object as its end of the pipes, then
    // exits. The parent returns at once.
    explicit ForkedChild(const std::function<void(ForkedChild&)>& body);
    // Kills the child if it still runs, and reaps it.
    ~ForkedChild();
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    // Sends one byte to the other side.
    void tell(char message);
    // Waits for one byte from the other side; 0 when the other side has gone.
    char hear();
    // Ends the child at once, as a crash would (SIGKILL), and reaps it.
    void kill();

private:
    pid_t pid_ = -1;
    int in_ = -1;  // what the other side tells
    int out_ = -1; // what this side tells
};

// Runs `body` in a forked child whose standard input is `stdin_fd` (unchanged
// when -1) and returns the child's exit status: body's result, or -1 when a
// signal ended the child or it has not finished within `timeout_ms` (it is then
// killed), so that a hang in the code under test fails the test instead of
// stalling the run. The child ends with _exit, so none of the test's exit
// handlers run in it; a body whose code under test registered one (a terminal
// mode to restore) ends itself with std::exit.
int run_in_child(const std::function<int()>& body, int timeout_ms, int stdin_fd = -1);
