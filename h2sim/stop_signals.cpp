#include "h2sim/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/signalfd.h>

int open_stop_signals(std::string& error) {
    sigset_t stop{};
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) {
        error = std::string("sigprocmask: ") + std::strerror(errno);
        return -1;
    }
    const int fd = signalfd(-1, &stop, SFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("signalfd: ") + std::strerror(errno);
    }
    return fd;
}
