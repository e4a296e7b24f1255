#include "tests/support/forked_child.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

ForkedChild::ForkedChild(const std::function<void(ForkedChild&)>& body) {
    int to_child[2];
    int to_parent[2];
    if (::pipe(to_child) != 0 || ::pipe(to_parent) != 0) {
        std::abort();
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(to_child[1]);
        ::close(to_parent[0]);
        in_ = to_child[0];
        out_ = to_parent[1];
        body(*this);
        ::_exit(0);
    }
    ::close(to_child[0]);
    ::close(to_parent[1]);
    in_ = to_parent[0];
    out_ = to_child[1];
}

ForkedChild::~ForkedChild() {
    kill();
    ::close(in_);
    ::close(out_);
}

void ForkedChild::tell(char message) {
    if (::write(out_, &message, 1) != 1) {
        std::abort();
    }
}

char ForkedChild::hear() {
    char message = 0;
    return ::read(in_, &message, 1) == 1 ? message : 0;
}

void ForkedChild::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

int run_in_child(const std::function<int()>& body, int timeout_ms, int stdin_fd) {
    std::fflush(nullptr); // a child that exits must not print the test's pending output again
    const pid_t child = ::fork();
    if (child == 0) {
        if (stdin_fd >= 0) {
            ::dup2(stdin_fd, STDIN_FILENO);
        }
        ::_exit(body());
    }
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= limit) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
