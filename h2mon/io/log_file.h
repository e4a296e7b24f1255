// The log file: a text file opened for appending, shared with other readers and
// writers (an operator may follow it, or another program may append to it),
// that only ever holds whole rows.
//
// Rotation by rename needs no restart: before each row the path is looked up
// again, and when it no longer names the file that is open (moved away by log
// rotation, deleted) the path is opened again, so each row lands in the file
// that had the path when it was written. On Windows an open log cannot be
// renamed or deleted (it is opened without delete sharing), so the path always
// names the open file there.
//
// A row that fails part-way (a full disk) is cut off again: the next row after
// room returns starts its own line instead of finishing the broken one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class LogFile {
public:
    explicit LogFile(std::string path) : path_(std::move(path)) {}
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    // Opens the path for appending, creating the file if need be. 0, or the
    // system's error number (errno).
    int open();

    // Appends one row, line end included, whole or not at all: 0, or the
    // system's error number, after which the file holds what it held before
    // the row. A path that names another file than the open one, or none, is
    // opened again first; when that fails the row is not written, and the next
    // row tries again.
    int append(std::string_view row);

    const std::string& path() const { return path_; }

private:
    // What each system provides (log_file_posix.cpp, log_file_windows.cpp).
    // Opens the path, closing what was open; records what `names_open_file`
    // compares with.
    int open_path();
    void close_file();
    // Whether the path still names the open file; `size` is then its size.
    bool names_open_file(std::int64_t* size) const;
    // The size of the open file.
    int size_of_open_file(std::int64_t* size) const;
    // Writes all of `row` at the end of the file.
    int write_all(std::string_view row);
    // Cuts the open file back to `size` bytes.
    int cut_to(std::int64_t size);

    std::string path_;
    std::intptr_t file_ = -1;  // the system's handle of the open file; -1 when none
    std::uint64_t device_ = 0; // which file is open: its device and file number
    std::uint64_t number_ = 0;
    std::int64_t cut_owed_ = -1; // a row's start that a failed cut left behind it
};
