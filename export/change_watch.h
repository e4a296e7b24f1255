// Waiting for a followed log to change. On Linux the kernel says when
// (inotify), so a quiet log costs no wake-ups at all; elsewhere the logs are
// looked at every kPollInterval.
#pragma once

#include <chrono>
#include <optional>
#include <string>

class ChangeWatch {
public:
    using Duration = std::chrono::milliseconds;
    static constexpr Duration kPollInterval{200};

    ChangeWatch();
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;
    ~ChangeWatch();

    // Watches the log at `path`: its directory (files created, renamed,
    // removed, written) and the file itself, wherever it is renamed to.
    // False when that is not possible now (the directory is missing): the
    // caller then looks again after a while.
    bool watch(const std::string& path);

    // Returns once a watched thing changed or `timeout` passed (none: no
    // time limit). True when a watch has ended (its directory was removed or
    // renamed): the caller watches its logs again.
    bool wait(std::optional<Duration> timeout);

private:
    int fd_ = -1;
};
