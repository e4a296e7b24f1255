// The files a log was rotated into while h2export was stopped, and reading
// them, plain or compressed, so that a restart goes on where it stopped
// through any number of rotations.
//
// A rotated file lies in the log's folder and is named after it: the log's
// file name, then '.', '-' or '_' and more (east.csv.1, east.csv.2.gz,
// east.csv-20261210). Whether it is compressed is known by its content.
#pragma once

#include "h2export/log_position.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct RotatedFile {
    std::string path;
    FileId id;
    std::int64_t size = 0; // on the disk
    bool compressed = false;
    std::string head; // the first bytes of its content, decompressed (up to kHeadBytes)
    std::optional<std::int64_t> first_ns; // the stamp of the first row in its head

    static constexpr std::size_t kHeadBytes = 16 * 1024;

    // The position at `offset` of its content, known by its own first bytes.
    LogPosition at(std::int64_t offset, LineAssembler::Inside inside) const;
};

// What h2export has to read at a restart when the log at `log` is no longer
// the file `saved` is in: the rotated file that is, then every rotated file
// whose first row is later, oldest first. Empty when no rotated file holds
// `saved` (deleted, moved away).
std::vector<RotatedFile> rotated_since(const std::string& log, const LogPosition& saved);

struct gzFile_s;

// Reads a rotated file's content, plain or compressed, from a byte of it on.
class RotatedReader {
public:
    // False, with `error` set, when the file cannot be opened.
    bool open(const std::string& path, std::int64_t offset, std::string& error);
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
