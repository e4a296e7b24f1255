#include "child_process.h"

#include <csignal>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

ChildProcess::ChildProcess(const std::function<void(ChildProcess&)>& body) {
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

ChildProcess::~ChildProcess() {
    kill();
    ::close(in_);
    ::close(out_);
}

void ChildProcess::tell(char message) {
    if (::write(out_, &message, 1) != 1) {
        std::abort();
    }
}

char ChildProcess::hear() {
    char message = 0;
    return ::read(in_, &message, 1) == 1 ? message : 0;
}

void ChildProcess::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}
