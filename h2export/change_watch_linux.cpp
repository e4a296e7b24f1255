#include "h2export/change_watch.h"

#include <cerrno>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kDirectoryEvents = IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                           IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB;

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

volatile std::sig_atomic_t stop_signal = 0;

void note_stop(int number) {
    stop_signal = number;
}

} // namespace

ChangeWatch::ChangeWatch() : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    sigset_t stops;
    sigemptyset(&stops);
    struct sigaction action = {};
    action.sa_handler = note_stop;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stops, number);
        sigaction(number, &action, nullptr);
    }
    // Held back except while waiting.
    sigprocmask(SIG_BLOCK, &stops, &waiting_mask_);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigdelset(&waiting_mask_, number);
    }
}

bool ChangeWatch::stop_requested() const {
    return stop_signal != 0;
}

ChangeWatch::~ChangeWatch() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ChangeWatch::watch(const std::string& path) {
    if (fd_ < 0) {
        return false;
    }
    if (inotify_add_watch(fd_, directory_of(path).c_str(), kDirectoryEvents | IN_ONLYDIR) < 0) {
        return false;
    }
    // The file's own watch follows it when it is renamed into another directory.
    inotify_add_watch(fd_, path.c_str(), kFileEvents);
    return true;
}

bool ChangeWatch::wait(std::optional<Duration> timeout) {
    if (fd_ < 0) {
        timeout = timeout ? std::min(*timeout, kPollInterval) : kPollInterval;
    }
    pollfd pfd{fd_, POLLIN, 0};
    timespec limit{};
    if (timeout) {
        const auto ms = std::max<Duration::rep>(timeout->count(), 0);
        limit.tv_sec = static_cast<time_t>(ms / 1000);
        limit.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    }
    const int ready = ::ppoll(&pfd, fd_ >= 0 ? 1 : 0, timeout ? &limit : nullptr, &waiting_mask_);
    if (fd_ < 0 || ready <= 0) {
        return fd_ < 0;
    }
    // Which log changed does not matter: every log is looked at after a wake.
    alignas(inotify_event) char events[4096];
    const ssize_t got = ::read(fd_, events, sizeof events);
    bool ended = got == static_cast<ssize_t>(sizeof events); // maybe more: look again
    for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        ended = ended || (event->mask & (IN_IGNORED | IN_Q_OVERFLOW)) != 0;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    return ended;
}
