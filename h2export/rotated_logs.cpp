#include "h2export/rotated_logs.h"

#include "h2export/log_record.h"
#include "telemetry/mjd_time.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// The stamp of the first whole line of `head` that starts with the MJD of a
// record (1990 up to a day from now): a damaged stamp orders nothing.
std::optional<std::int64_t> first_stamp(std::string_view head) {
    const RecordTimes times(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count());
    for (std::size_t end; (end = head.find('\n')) != std::string_view::npos;
         head.remove_prefix(end + 1)) {
        std::int64_t ns = 0;
        if (mjd_unix_ns(head.substr(0, std::min(head.find(','), end)), &ns) && times.contain(ns)) {
            return ns;
        }
    }
    return std::nullopt;
}

// A rotated file last written this long before the time a reading goes on
// from holds no row after it. Generous: file times and the records' stamps
// may come from clocks that differ (a log on a share).
constexpr std::int64_t kModifiedMarginNs = 86400LL * 1000000000LL;

// Every file named after the log, and the log, held open. logrotate may be
// shifting the names meanwhile, and a listing taken while it does can miss a
// file: the folder is listed again until a listing finds nothing new.
// Rotated files last written before `older_than_ns` are left out.
std::vector<HeldLog> hold_beside(const std::string& log, std::vector<HeldLog> held,
                                 std::optional<std::int64_t> older_than_ns,
                                 std::optional<FileId>& log_id) {
    const fs::path path(log);
    const std::string log_name = path.filename().string();
    const fs::path folder = path.has_parent_path() ? path.parent_path() : ".";
    const auto known = [&](const FileId& id) {
        return std::any_of(held.begin(), held.end(),
                           [&](const HeldLog& file) { return file.id() == id; });
    };
    const auto take = [&](const std::string& name, bool is_log) {
        FileId id;
        std::int64_t size = 0;
        std::string error;
        if (look_at(name, id, size, error) != PathState::kFile) {
            return false;
        }
        if (is_log) {
            log_id = id;
        }
        std::int64_t modified = 0;
        if (known(id) || (!is_log && older_than_ns && modified_ns(name, modified) &&
                          modified < *older_than_ns)) {
            return false;
        }
        HeldLog file;
        if (hold_log(name, file, error) != PathState::kFile) {
            return false;
        }
        // Renamed between the look and the opening: the next listing finds it.
        if (file.id() == id) {
            held.push_back(std::move(file));
        }
        return true;
    };
    constexpr int kMostListings = 20;
    for (int listing = 0; listing < kMostListings; ++listing) {
        bool found = false;
        std::error_code failure;
        for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
             it.increment(failure)) {
            if (named_after(it->path().filename().string(), log_name)) {
                found = take(it->path().string(), false) || found;
            }
        }
        log_id.reset();
        found = take(log, true) || found;
        if (!found) {
            break;
        }
    }
    return held;
}

} // namespace

bool named_after(const std::string& name, const std::string& log_name) {
    return name.size() > log_name.size() + 1 && name.compare(0, log_name.size(), log_name) == 0 &&
           std::strchr(".-_", name[log_name.size()]) != nullptr;
}

bool HeldLog::holds(const LogPosition& position) const {
    if (position.print_bytes == 0) {
        return !compressed && id() == position.id;
    }
    return static_cast<std::int64_t>(head.size()) >= position.print_bytes &&
           content_print(std::string_view(head).substr(
               0, static_cast<std::size_t>(position.print_bytes))) == position.print;
}

bool HeldLog::same_content(const HeldLog& other) const {
    const std::size_t bytes = std::min(head.size(), other.head.size());
    return bytes > 0 && head.compare(0, bytes, other.head, 0, bytes) == 0;
}

bool read_head(HeldLog& held, std::string& error) {
    RotatedReader reader;
    if (!reader.open(held, 0, error)) {
        return false;
    }
    // Read into a buffer of its own and kept at its size: many files are held.
    static char buffer[HeldLog::kHeadBytes];
    std::size_t got = 0;
    for (long part;
         got < sizeof buffer && (part = reader.read(buffer + got, sizeof buffer - got)) > 0;) {
        got += static_cast<std::size_t>(part);
    }
    held.head.assign(buffer, got);
    held.head.shrink_to_fit();
    held.compressed = reader.compressed();
    held.first_ns = first_stamp(held.head);
    return true;
}

PathState hold_log(const std::string& path, HeldLog& held, std::string& error) {
    HeldLog opened;
    opened.path = path;
    opened.file = std::make_unique<LogFile>();
    const PathState state = opened.file->open(path, error);
    if (state != PathState::kFile) {
        return state;
    }
    if (!read_head(opened, error)) {
        return PathState::kUnreadable;
    }
    held = std::move(opened);
    return PathState::kFile;
}

ReadingPlan plan_reading(const std::string& log, const LogPosition& from,
                         std::optional<HeldLog> current) {
    std::vector<HeldLog> held;
    if (current) {
        held.push_back(std::move(*current));
    }
    const bool time_known = from.after_ns != LogPosition::kTimeUnknown;
    std::optional<FileId> log_id;
    held = hold_beside(log, std::move(held),
                       time_known && from.after_ns > kModifiedMarginNs
                           ? std::optional<std::int64_t>(from.after_ns - kModifiedMarginNs)
                           : std::nullopt,
                       log_id);
    const auto is_log = [&](const HeldLog& file) { return log_id && file.id() == *log_id; };

    // The file the position is in: the same file if it is still there, else
    // the live log before a copy of it, else a plain file before its
    // compressed twin.
    ReadingPlan plan;
    int holder = -1;
    const auto rank = [&](const HeldLog& file) {
        return (file.id() == from.id ? 4 : 0) + (is_log(file) ? 2 : 0) + (file.compressed ? 0 : 1);
    };
    if (from.offset > 0 || from.print_bytes > 0) {
        for (std::size_t i = 0; i < held.size(); ++i) {
            if (held[i].holds(from) && (holder < 0 || rank(held[i]) > rank(held[holder]))) {
                holder = static_cast<int>(i);
            }
        }
        plan.holder_found = holder >= 0 || from.offset == 0;
    }

    // Rows later than the position: by their time, or, from a position saved
    // without one, later than the first row of the file it is in.
    std::optional<std::int64_t> after;
    if (time_known) {
        after = from.after_ns;
    } else if (holder >= 0) {
        after = held[holder].first_ns;
    }
    HeldLog* log_file = nullptr;
    std::vector<HeldLog*> later;
    for (std::size_t i = 0; i < held.size(); ++i) {
        HeldLog& file = held[i];
        if (static_cast<int>(i) == holder) {
            continue;
        }
        if (is_log(file)) {
            log_file = &file;
        } else if (after && file.first_ns && *file.first_ns > *after &&
                   (holder < 0 || !file.same_content(held[holder]))) {
            later.push_back(&file);
        }
    }
    std::stable_sort(later.begin(), later.end(), [](const HeldLog* a, const HeldLog* b) {
        return a->first_ns != b->first_ns ? a->first_ns < b->first_ns
                                          : a->compressed < b->compressed;
    });
    // A copy of the live log still being made, and a plain file beside its
    // compressed twin, are one content: read once.
    later.erase(std::unique(later.begin(), later.end(),
                            [](const HeldLog* a, const HeldLog* b) { return a->same_content(*b); }),
                later.end());
    if (log_file != nullptr) {
        later.erase(
            std::remove_if(later.begin(), later.end(),
                           [&](const HeldLog* file) { return file->same_content(*log_file); }),
            later.end());
    }

    // The log is read last: nothing comes after the file h2mon writes to.
    const bool holder_is_log = holder >= 0 && is_log(held[holder]);
    if (holder >= 0) {
        plan.files.push_back(std::move(held[holder]));
        plan.first_offset = from.offset;
    }
    if (!holder_is_log) {
        for (HeldLog* file : later) {
            plan.files.push_back(std::move(*file));
        }
    }
    if (log_file != nullptr) {
        plan.files.push_back(std::move(*log_file));
    }
    plan.ends_with_log = holder_is_log || log_file != nullptr;
    plan.holder_is_log = holder_is_log;
    return plan;
}

std::optional<HeldLog> file_of_time(const std::string& log, std::int64_t time_ns) {
    std::optional<FileId> log_id;
    std::vector<HeldLog> held =
        hold_beside(log, {}, std::optional<std::int64_t>(time_ns - kModifiedMarginNs), log_id);
    std::optional<HeldLog> found;
    for (HeldLog& file : held) {
        if (file.first_ns && *file.first_ns <= time_ns &&
            (!found || *file.first_ns > *found->first_ns ||
             (*file.first_ns == *found->first_ns && found->compressed && !file.compressed))) {
            found = std::move(file);
        }
    }
    return found;
}

void RotatedReader::GzCloser::operator()(gzFile_s* file) const {
    gzclose(file);
}

bool RotatedReader::open(const HeldLog& held, std::int64_t offset, std::string& error) {
    error_.clear();
    const int fd = held.file->reader_descriptor();
    errno = 0;
    file_.reset(fd >= 0 ? gzdopen(fd, "rb") : nullptr);
    if (!file_) {
        error = held.path + ": " + (errno != 0 ? std::strerror(errno) : "cannot read");
        if (fd >= 0) {
#ifdef _WIN32
            _close(fd);
#else
            ::close(fd);
#endif
        }
        return false;
    }
    gzbuffer(file_.get(), 64 * 1024);
    // Asked before the first read, zlib looks at the first bytes for gzip's magic.
    compressed_ = gzdirect(file_.get()) == 0;
    if (offset > 0 && gzseek(file_.get(), static_cast<z_off_t>(offset), SEEK_SET) < 0) {
        error = held.path + ": cannot go to byte " + std::to_string(offset);
        file_.reset();
        return false;
    }
    return true;
}

long RotatedReader::read(char* buffer, std::size_t count) {
    if (!file_) {
        return 0;
    }
    const int got = gzread(file_.get(), buffer, static_cast<unsigned>(count));
    int code = Z_OK;
    const char* reason = gzerror(file_.get(), &code);
    // A compressed file cut short reads as its end with Z_BUF_ERROR set.
    if (got < 0 || (got == 0 && code != Z_OK)) {
        error_ = code == Z_ERRNO ? std::strerror(errno) : reason; // copied: it goes with the file
        file_.reset();
        return -1;
    }
    return got;
}
