#include "h2export/exporter.h"

#include "h2export/change_watch.h"
#include "program/exit_code.h"
#include "program/stop_signals.h"
#include "h2export/influx.h"
#include "h2export/log_folder.h"
#include "h2export/maser_feed.h"
#include "h2export/rotated_logs.h"
#include "h2export/textfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace {

using std::chrono::milliseconds;

std::int64_t wall_clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A log whose directory cannot be watched, or that is not where its path
// leads, is looked at this often.
constexpr milliseconds kMissingRetry{1000};

// A folder given with --follow-dir, and what was said about it.
struct LogFolder {
    std::string path;
    bool readable = true;
    std::set<std::string> refused; // names already followed from elsewhere, reported
};

class Exporter {
public:
    explicit Exporter(const ExportOptions& options)
        : options_(options), start_ns_(wall_clock_ns()), new_after_ns_(start_ns_ - kStampMarginNs) {
        for (const std::string& folder : options.follow_dirs) {
            folders_.push_back(LogFolder{folder, true, {}});
        }
        if (!options.textfile_dir.empty()) {
            textfiles_ = std::make_unique<TextfileFolder>(options.textfile_dir);
        }
    }

    int run() {
        if (!options_.influx.empty()) {
            influx_ = std::make_unique<InfluxOutput>(options_.influx, options_.state, &stops_);
            std::string error;
            if (!influx_->open(error)) {
                std::fprintf(stderr, "h2export: %s\n", error.c_str());
                return kExitFailed;
            }
            // Masers the last run did not know of came since it last saved.
            if (influx_->known_since_ns() >= 0) {
                new_after_ns_ = influx_->known_since_ns() - kStampMarginNs;
            }
            influx_->set_known_since(start_ns_);
        }
        if (textfiles_ && !textfiles_->check_at_start()) {
            return kExitFailed;
        }
        for (const FollowTarget& target : options_.follows) {
            add_maser(target, false);
        }
        find_new_logs(false);
        follow_known_rotated();
        std::string error;
        if (!stops_.ok(error)) {
            std::fprintf(stderr, "h2export: %s\n", error.c_str());
            return kExitFailed;
        }
        // Everything is looked at the first time, whenever the watch cannot
        // tell what changed, and every second until all is watched and in
        // place, however busy other logs keep the watch.
        ChangeWatch::Changes changes;
        changes.all = true;
        SteadyClock::time_point looked{};
        bool settled = false;
        while (!changes.stop) {
            const auto now = SteadyClock::now();
            const bool everything =
                changes.all || changes.folders_moved || (!settled && now - looked >= kMissingRetry);
            looked = everything ? now : looked;
            follow(changes, everything, now);
            commit_influx();
            const bool all_written = write_textfiles(now);
            settled = folders_watched_ && all_in_place() && all_written;
            watch_.wait(next_wake(settled, looked), changes);
        }
        return kExitDone;
    }

private:
    // Takes in what changed: new logs, the folders' watches, and the masers
    // whose logs changed (or all of them) read, their status checked.
    void follow(const ChangeWatch::Changes& changes, bool everything, SteadyClock::time_point now) {
        if (everything || names_new_log(changes)) {
            find_new_logs(true);
        }
        if (everything) {
            folders_watched_ = watch_folders();
        }
        for (std::size_t i = 0; i < masers_.size(); ++i) {
            MaserFeed& maser = *masers_[i];
            const int index = static_cast<int>(i);
            if (changes.unwatched.count(2 * index) != 0) {
                maser.watched = FileId{};
            }
            if (changes.unwatched.count(2 * index + 1) != 0) {
                maser.watched_log = FileId{};
            }
            const bool named = everything || maser.named(changes);
            if (named || maser.read_due || maser.written(changes, index)) {
                read(maser, index, named);
            }
            maser.textfile_due = maser.status_changed(now) || maser.textfile_due;
        }
    }

    void add_maser(const FollowTarget& target, bool found_later) {
        followed_[target.name] = target.path;
        masers_.push_back(std::make_unique<MaserFeed>(target, options_, influx_.get(), stops_,
                                                      new_after_ns_, found_later));
    }

    // Every NAME.csv in the folders that is not followed yet becomes a maser;
    // one found after the start is a new log, read whole. A name given with
    // --follow, or seen before, is not taken again.
    void find_new_logs(bool found_later) {
        for (LogFolder& folder : folders_) {
            std::vector<FolderLog> logs;
            std::string error;
            const bool readable = logs_in_folder(folder.path, logs, error);
            if (readable != folder.readable) {
                folder.readable = readable;
                if (readable) {
                    std::fprintf(stderr, "h2export: %s can be read again\n", folder.path.c_str());
                } else {
                    std::fprintf(stderr, "h2export: %s; looking again every second\n",
                                 error.c_str());
                }
            }
            for (const FolderLog& log : logs) {
                const auto known = followed_.find(log.name);
                if (known == followed_.end()) {
                    std::fprintf(stderr, "h2export: %s: following %s\n", log.name.c_str(),
                                 log.path.c_str());
                    add_maser({log.name, log.path}, found_later);
                    continue;
                }
                std::error_code failure;
                if (!std::filesystem::equivalent(known->second, log.path, failure) &&
                    folder.refused.insert(log.name).second) {
                    std::fprintf(stderr,
                                 "h2export: %s is not followed: the maser '%s' is %s already\n",
                                 log.path.c_str(), log.name.c_str(), known->second.c_str());
                }
            }
        }
    }

    // A maser of a followed folder that the saved state knows, whose log is
    // missing now but whose rotated files are there (renamed, and h2mon has
    // not opened its log again yet): followed, so that what h2mon writes into
    // the rotated file meanwhile is read.
    void follow_known_rotated() {
        if (!influx_) {
            return;
        }
        for (const std::string& maser : influx_->known_masers()) {
            for (const LogFolder& folder : folders_) {
                if (followed_.count(maser) == 0 && has_rotated(folder.path, maser + ".csv")) {
                    const std::string log = folder.path + "/" + maser + ".csv";
                    std::fprintf(stderr, "h2export: %s: following %s (rotated, not there now)\n",
                                 maser.c_str(), log.c_str());
                    add_maser({maser, log}, false);
                }
            }
        }
    }

    static bool has_rotated(const std::string& folder, const std::string& log_name) {
        std::error_code failure;
        for (std::filesystem::directory_iterator it(folder, failure), end; !failure && it != end;
             it.increment(failure)) {
            if (named_after(it->path().filename().string(), log_name)) {
                return true;
            }
        }
        return false;
    }

    // Watches every followed folder and every log's folder. False when one
    // cannot be watched now: then everything is looked at every second.
    bool watch_folders() {
        bool all = true;
        for (const LogFolder& folder : folders_) {
            all = watch_.watch_folder(folder.path) && folder.readable && all;
        }
        for (const auto& maser : masers_) {
            all = watch_.watch_folder(maser->folder()) && all;
        }
        return all;
    }

    // Whether a log arrived in a followed folder: maybe a new maser.
    bool names_new_log(const ChangeWatch::Changes& changes) const {
        for (const auto& [folder, name] : changes.arrived) {
            const bool log = name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0;
            for (const LogFolder& followed : folders_) {
                if (log && followed.path == folder) {
                    return true;
                }
            }
        }
        return false;
    }

    // Reads what is new in the maser's log. The file it reads and the file
    // at its path are watched (keys 2i and 2i + 1); once one of them is
    // another file, the log is read again, so that rows written before the
    // watch began are read, until the files read are the files watched.
    void read(MaserFeed& maser, int index, bool folder_changed) {
        for (bool watched_anew = true; watched_anew; folder_changed = false) {
            maser.read_due = !maser.read(folder_changed);
            watched_anew = false;
            const LogFollower& follower = maser.follower();
            const LogFile* reading = follower.reading();
            if (reading != nullptr && reading->id() != maser.watched) {
                maser.watched = reading->id();
                watch_.watch_file(*reading, 2 * index);
                watched_anew = true;
            }
            if (follower.log_id() != maser.watched_log && follower.log_id() != FileId{}) {
                maser.watched_log = follower.log_id();
                watch_.watch_path(follower.path(), 2 * index + 1);
                watched_anew = true;
            }
        }
    }

    // False while a log is not where its path leads (it or its folder renamed,
    // deleted or mounted over): a new one may come where no watch sees it.
    bool all_in_place() const {
        for (const auto& maser : masers_) {
            if (!maser->follower().in_place()) {
                return false;
            }
        }
        return true;
    }

    // At once when a log is not read to its end; else when the next maser
    // goes down, or a second after everything was last looked at while not
    // all is watched and in place.
    std::optional<milliseconds> next_wake(bool settled, SteadyClock::time_point looked) const {
        std::optional<milliseconds> wake;
        const auto now = SteadyClock::now();
        const auto until = [&](SteadyClock::time_point when) {
            const auto left =
                std::max(milliseconds(0), std::chrono::ceil<milliseconds>(when - now));
            wake = wake ? std::min(*wake, left) : left;
        };
        if (!settled) {
            until(looked + kMissingRetry);
        }
        for (const auto& maser : masers_) {
            if (maser->read_due) {
                until(now);
            } else if (maser->status().up(now)) {
                until(maser->status().down_at());
            }
        }
        return wake;
    }

    // Writes the files that changed; false while some are not written (their
    // folder missing, a write failing): they are tried again within a second.
    bool write_textfiles(SteadyClock::time_point now) {
        if (!textfiles_) {
            return true;
        }
        if (textfiles_->waiting()) {
            if (!textfiles_->look_again()) {
                return false;
            }
            for (auto& maser : masers_) {
                maser->textfile_due = true;
            }
        }
        bool all = true;
        for (auto& maser : masers_) {
            if (maser->textfile_due) {
                maser->textfile_text(now, text_);
                maser->textfile_due = !textfiles_->write(maser->status().name(), text_);
                all = all && !maser->textfile_due;
            }
        }
        return all;
    }

    void commit_influx() {
        if (!influx_) {
            return;
        }
        std::string error;
        const bool ok = influx_->commit(error);
        if (ok != influx_ok_) {
            influx_ok_ = ok;
            std::fprintf(stderr,
                         ok ? "h2export: the line protocol is written again\n" : "h2export: %s\n",
                         error.c_str());
        }
    }

    // A row is stamped before it is written, and its MJD's six decimals are a
    // step of 86.4 ms: rows written after a moment may be stamped this much
    // before it.
    static constexpr std::int64_t kStampMarginNs = 1000000000;

    const ExportOptions& options_;
    std::int64_t start_ns_;
    std::int64_t new_after_ns_; // rows stamped after this are new to a maser without a position
    StopSignals stops_;
    ChangeWatch watch_{stops_};
    std::unique_ptr<InfluxOutput> influx_;
    std::vector<std::unique_ptr<MaserFeed>> masers_;
    std::vector<LogFolder> folders_;
    std::map<std::string, std::string> followed_; // maser name -> its log
    std::unique_ptr<TextfileFolder> textfiles_;
    std::string text_; // a textfile's text, made again for each file written
    bool folders_watched_ = false;
    bool influx_ok_ = true;
};

} // namespace

int run_follow(const ExportOptions& options) {
    return Exporter(options).run();
}
