// Waiting for a followed log to change, or for a request to stop. On Linux
// the kernel says when a log changes (inotify), so a quiet log costs no
// wake-ups at all; elsewhere the logs are looked at every kPollInterval.
//
// A stop request (StopSignals) ends a wait at once; it is taken there, and
// between two batches of a long log being caught up, so a batch of points and
// its positions are never cut apart by an orderly stop.
#pragma once

#include "program/stop_signals.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

class ChangeWatch {
public:
    using Duration = std::chrono::milliseconds;
    static constexpr Duration kPollInterval{200};

    explicit ChangeWatch(const StopSignals& stops);
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;
    ~ChangeWatch();

    // Watches the log at `path`: its directory (files created, renamed,
    // removed, written) and the file itself, wherever it is renamed to.
    // False when that is not possible now (the directory is missing): the
    // caller then looks again after a while.
    bool watch(const std::string& path);

    // Watches `folder` itself: files created, renamed, removed, written in it.
    // Called again after any wake, it moves the watch to whatever folder the
    // path leads to now (the folder renamed and made again, a file system
    // mounted over it). False when the path leads to no folder now.
    bool watch_folder(const std::string& folder);

    // Returns once a watched thing changed, a stop was requested or `timeout`
    // passed (none: no time limit). True when a watch has ended (its
    // directory was removed or renamed): the caller watches its logs again.
    bool wait(std::optional<Duration> timeout);

private:
    // A folder watched, and which folder (device, file number) the watch is on.
    struct Folder {
        int wd = -1;
        std::uint64_t device = 0;
        std::uint64_t number = 0;
    };

    const StopSignals& stops_;
    int fd_ = -1;
    std::map<std::string, Folder> folders_; // by path
};
