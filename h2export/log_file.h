// A log file opened for reading while another program appends to it, renames
// it or truncates it, on Linux and on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Which file a path names: device and file number, stable across renames.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    bool operator==(const FileId& other) const {
        return device == other.device && number == other.number;
    }
    bool operator!=(const FileId& other) const { return !(*this == other); }
};

enum class PathState { kFile, kMissing, kDirectory, kUnreadable };

// What `path` names now: a regular file (its id and size), nothing, a
// directory, or something that cannot be read (`error` says why).
PathState look_at(const std::string& path, FileId& id, std::int64_t& size, std::string& error);

// When the file at `path` was last written, in nanoseconds since the Unix
// epoch; false when it cannot be told.
bool modified_ns(const std::string& path, std::int64_t& unix_ns);

class LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() { close(); }

    // Opens `path` for reading; others may go on writing, renaming and
    // deleting it (on Windows too). Anything but kFile leaves it closed.
    PathState open(const std::string& path, std::string& error);
    bool is_open() const;
    void close();

    const FileId& id() const { return id_; }
#ifndef _WIN32
    int descriptor() const {
        return fd_;
    }
#endif
    // The file's size now, -1 when it cannot be told.
    std::int64_t size() const;
    // Up to `count` bytes from `offset`; 0 at the end, -1 on an error.
    long read_at(std::int64_t offset, char* buffer, std::size_t count) const;
    // A new C library descriptor of the same open file, at its start, for a
    // reader that takes one (zlib's gzdopen); the caller closes it. -1 on failure.
    int reader_descriptor() const;

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    FileId id_;
};
