#include "h2export/change_watch.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <poll.h>
#include <sys/stat.h>
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

} // namespace

ChangeWatch::ChangeWatch(const StopSignals& stops)
    : stops_(stops), fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {}

ChangeWatch::~ChangeWatch() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ChangeWatch::watch_folder(const std::string& folder) {
    struct stat info;
    if (fd_ < 0 || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return false;
    }
    Folder& watched = folders_[folder];
    const auto device = static_cast<std::uint64_t>(info.st_dev);
    const auto number = static_cast<std::uint64_t>(info.st_ino);
    if (watched.wd >= 0 && watched.device == device && watched.number == number) {
        return true;
    }
    // The path leads to another folder than the one watched: watch that one.
    const int wd = inotify_add_watch(fd_, folder.c_str(), kDirectoryEvents | IN_ONLYDIR);
    if (wd < 0) {
        return false;
    }
    const int old = watched.wd;
    watched = {wd, device, number};
    bool shared = false;
    for (const auto& [path, other] : folders_) {
        shared = shared || (old >= 0 && other.wd == old);
    }
    if (old >= 0 && old != wd && !shared) {
        inotify_rm_watch(fd_, old);
    }
    return true;
}

bool ChangeWatch::watch(const std::string& path) {
    if (!watch_folder(directory_of(path))) {
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
    // The stop descriptor first: without inotify it is the only one.
    pollfd fds[2] = {{stops_.fd(), POLLIN, 0}, {fd_, POLLIN, 0}};
    const int ms = timeout ? static_cast<int>(std::clamp<Duration::rep>(
                                 timeout->count(), 0, std::numeric_limits<int>::max()))
                           : -1;
    const int ready = ::poll(fds, fd_ >= 0 ? 2 : 1, ms);
    if (fd_ < 0 || ready <= 0 || (fds[1].revents & POLLIN) == 0) {
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
