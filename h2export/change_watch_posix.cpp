#include "h2export/change_watch.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes are seen on the files themselves, one event each: a row is one wake-up.
constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB;

} // namespace

ChangeWatch::ChangeWatch(const StopSignals& stops)
    : stops_(stops), fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {}

ChangeWatch::~ChangeWatch() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

// Ends the watch `wd` unless a folder or a key still has it.
void ChangeWatch::forget(int wd) {
    for (const auto& [path, folder] : folders_) {
        if (folder.wd == wd) {
            return;
        }
    }
    for (const auto& [key, watch] : key_watches_) {
        if (watch == wd) {
            return;
        }
    }
    file_keys_.erase(wd);
    inotify_rm_watch(fd_, wd);
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
    const int wd = inotify_add_watch(fd_, folder.c_str(), kFolderEvents | IN_ONLYDIR);
    if (wd < 0) {
        return false;
    }
    const int old = watched.wd;
    watched = {wd, device, number};
    if (old >= 0 && old != wd) {
        forget(old);
    }
    return true;
}

void ChangeWatch::keep(int wd, int key) {
    const auto old = key_watches_.find(key);
    if (old != key_watches_.end() && old->second != wd) {
        const int old_wd = old->second;
        key_watches_.erase(old);
        forget(old_wd);
    }
    if (wd >= 0) {
        key_watches_[key] = wd;
        file_keys_[wd] = key;
    }
}

void ChangeWatch::watch_file(const LogFile& file, int key) {
    if (fd_ >= 0 && file.is_open()) {
        // The open file itself, not the file at its path now.
        const std::string open_file = "/proc/self/fd/" + std::to_string(file.descriptor());
        keep(inotify_add_watch(fd_, open_file.c_str(), kFileEvents), key);
    }
}

void ChangeWatch::watch_path(const std::string& path, int key) {
    if (fd_ >= 0) {
        keep(inotify_add_watch(fd_, path.c_str(), kFileEvents), key);
    }
}

void ChangeWatch::wait(std::optional<Duration> timeout, Changes& changes) {
    changes = Changes{};
    if (fd_ < 0) {
        timeout = timeout ? std::min(*timeout, kPollInterval) : kPollInterval;
    }
    // The stop descriptor first: without inotify it is the only one.
    pollfd fds[2] = {{stops_.fd(), POLLIN, 0}, {fd_, POLLIN, 0}};
    const int ms = timeout ? static_cast<int>(std::clamp<Duration::rep>(
                                 timeout->count(), 0, std::numeric_limits<int>::max()))
                           : -1;
    const int ready = ::poll(fds, fd_ >= 0 ? 2 : 1, ms);
    changes.stop = ready > 0 && (fds[0].revents & POLLIN) != 0;
    if (fd_ < 0) {
        changes.all = true;
        return;
    }
    if (ready <= 0 || (fds[1].revents & POLLIN) == 0) {
        return;
    }
    alignas(inotify_event) char events[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd_, events, sizeof events);
        if (got <= 0) {
            return;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                changes.all = true;
                continue;
            }
            const auto file = file_keys_.find(event->wd);
            if (file != file_keys_.end()) {
                changes.files.insert(file->second);
            }
            // A file gone (its last name removed and no longer open): its
            // watch ended, and its number may come back for another file.
            if (file != file_keys_.end() && (event->mask & IN_IGNORED) != 0) {
                for (auto key = key_watches_.begin(); key != key_watches_.end();) {
                    if (key->second == event->wd) {
                        changes.files.insert(key->first);
                        changes.unwatched.insert(key->first);
                        key = key_watches_.erase(key);
                    } else {
                        ++key;
                    }
                }
                file_keys_.erase(event->wd);
            }
            for (const auto& [path, folder] : folders_) {
                if (folder.wd != event->wd) {
                    continue;
                }
                if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
                    changes.folders_moved = true;
                } else if (event->len > 0) {
                    changes.names.emplace(path, event->name);
                    if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                        changes.arrived.emplace(path, event->name);
                    }
                }
            }
        }
        // A read takes as many events as fit: room left for the largest
        // one means none was waiting.
        if (static_cast<std::size_t>(got) + sizeof(inotify_event) + NAME_MAX + 1 <= sizeof events) {
            return;
        }
    }
}
