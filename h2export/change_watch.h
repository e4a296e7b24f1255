// Waiting for a followed log to change, or for a request to stop. On Linux
// the kernel says what changed (inotify): which watched file was written to,
// which names in a watched folder came, went or were renamed; so a quiet log
// costs no wake-ups at all, a row one wake-up, and a row of one maser is no
// work for the others. Elsewhere everything is looked at every kPollInterval.
//
// A stop request (StopSignals) ends a wait at once; it is taken there, and
// between two batches of a long log being caught up, so a batch of points and
// its positions are never cut apart by an orderly stop.
#pragma once

#include "h2export/log_file.h"
#include "program/stop_signals.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class ChangeWatch {
public:
    using Duration = std::chrono::milliseconds;
    static constexpr Duration kPollInterval{200};

    // What a wait saw.
    struct Changes {
        bool stop = false;          // a stop was requested
        bool all = false;           // anything may have changed: look at everything
        bool folders_moved = false; // a watched folder went: watch the folders again
        std::set<int> files;        // the keys of watched files written to
        std::set<int> unwatched;    // of those, the keys whose file is gone: watch again
        std::set<std::pair<std::string, std::string>> names;   // (folder, name) in a watched folder
        std::set<std::pair<std::string, std::string>> arrived; // of those, made or moved in
        bool any() const { return all || folders_moved || !files.empty() || !names.empty(); }
    };

    explicit ChangeWatch(const StopSignals& stops);
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;
    ~ChangeWatch();

    // Watches `folder` itself: files created, renamed, removed, written in it.
    // Called again, it moves the watch to whatever folder the path leads to
    // now (the folder renamed and made again, a file system mounted over it).
    // False when the path leads to no folder now: the caller looks again
    // after a while.
    bool watch_folder(const std::string& folder);

    // Watches the open `file` for writes wherever it is renamed to; `key`
    // comes back in Changes::files. A key watches one file: watching another
    // with it ends the watch on the first.
    void watch_file(const LogFile& file, int key);
    // The same for the file at `path` now.
    void watch_path(const std::string& path, int key);

    // Returns once something watched changed, a stop was requested or
    // `timeout` passed (none: no time limit), with what changed in `changes`.
    void wait(std::optional<Duration> timeout, Changes& changes);

private:
    // A folder watched, and which folder (device, file number) the watch is on.
    struct Folder {
        int wd = -1;
        std::uint64_t device = 0;
        std::uint64_t number = 0;
    };

    void forget(int wd);
    void keep(int wd, int key);

    const StopSignals& stops_;
    int fd_ = -1;
    std::map<std::string, Folder> folders_; // by path
    std::map<int, int> file_keys_;          // a file's watch -> its key
    std::map<int, int> key_watches_;        // a key -> its file's watch
};
