// A log and the files it was rotated into, held open by descriptor, and what
// to read of them, in which order, to go on from a position without losing
// or repeating a row.
//
// A rotated file lies in the log's folder and is named after it: the log's
// file name, then '.', '-' or '_' and more (east.csv.1, east.csv.2.gz,
// east.csv-20261210). logrotate shifts those names while it works, so a file
// is known by what it is, never by its name: its identity (device, file
// number) while it keeps it, and its first bytes, which a copy (copytruncate)
// or a compressed file keeps too. Whether it is compressed is known by its
// content. Files follow each other in the order of their first records.
#pragma once

#include "h2export/log_position.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

// Whether a file named `name` in a log's folder is a file rotated from the
// log named `log_name`.
bool named_after(const std::string& name, const std::string& log_name);

// A file held open: renamed, compressed and deleted, it is still read whole.
struct HeldLog {
    std::string path; // its name when it was opened, for messages
    std::unique_ptr<LogFile> file;
    bool compressed = false;
    std::string head;                     // its content's first bytes, up to kHeadBytes
    std::optional<std::int64_t> first_ns; // the time of the first record in the head

    static constexpr std::size_t kHeadBytes = 16 * 1024;

    const FileId& id() const { return file->id(); }
    // Whether its content starts with the bytes `position` was taken after.
    bool holds(const LogPosition& position) const;
    // Whether it has the same content as `other`, as far as the shorter head goes.
    bool same_content(const HeldLog& other) const;
};

// Opens the file at `path` and reads its head. Anything but kFile leaves `held` as it was.
PathState hold_log(const std::string& path, HeldLog& held, std::string& error);

// Reads a held file's head (and so its first record) again, as it is now.
bool read_head(HeldLog& held, std::string& error);

// What to read to go on from a position, oldest first.
struct ReadingPlan {
    std::deque<HeldLog> files;
    std::int64_t first_offset = 0; // where files.front() is read from
    // The file the position is in (then files.front()) was found. False when
    // it was read into and no longer lies beside the log.
    bool holder_found = true;
    bool ends_with_log = false; // files.back() is the file at the log's path
    bool holder_is_log = false; // files.front() is that file, read from first_offset
};

// The files to read after `from` in the log at `log`: the file it is in (the
// log, a rotated file, or `current`, the file being read, wherever it was
// renamed to), read from its offset; then every rotated file whose first
// record is later than from.after_ns, by their first records; then the log,
// always last. A copy or a compressed twin of a file is read once.
ReadingPlan plan_reading(const std::string& log, const LogPosition& from,
                         std::optional<HeldLog> current = std::nullopt);

// The file, the log or one rotated from it, that holds the record of
// `time_ns`: of those whose first record is not later, the latest.
std::optional<HeldLog> file_of_time(const std::string& log, std::int64_t time_ns);

struct gzFile_s;

// Reads a held file's content, plain or compressed, from a byte of it on.
class RotatedReader {
public:
    // False, with `error` set, when the file cannot be read.
    bool open(const HeldLog& held, std::int64_t offset, std::string& error);
    // Up to `count` bytes; 0 at the end, -1 when the content is damaged
    // (error() says why).
    long read(char* buffer, std::size_t count);
    const std::string& error() const { return error_; }
    // Whether the open file is gzip-compressed (known by its content).
    bool compressed() const { return compressed_; }
    bool is_open() const { return file_ != nullptr; }
    void close() { file_.reset(); }

private:
    struct GzCloser {
        void operator()(gzFile_s* file) const;
    };
    std::unique_ptr<gzFile_s, GzCloser> file_;
    std::string error_;
    bool compressed_ = false;
};
