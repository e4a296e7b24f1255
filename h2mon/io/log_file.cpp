#include "h2mon/io/log_file.h"

LogFile::~LogFile() {
    close_file();
}

int LogFile::open() {
    return open_path();
}

int LogFile::append(std::string_view row) {
    // The size before the row is where a row that fails part-way is cut off.
    std::int64_t size = 0;
    if (file_ == -1 || !names_open_file(&size)) {
        cut_owed_ = -1; // owed by a file the path no longer names
        if (const int error = open_path()) {
            return error;
        }
        if (const int error = size_of_open_file(&size)) {
            return error;
        }
    }
    // A part of a row that could not be cut off before: nothing goes on after it.
    if (cut_owed_ >= 0) {
        if (size > cut_owed_) {
            if (const int error = cut_to(cut_owed_)) {
                return error;
            }
            size = cut_owed_;
        }
        cut_owed_ = -1;
    }
    const int error = write_all(row);
    std::int64_t now = size;
    if (error != 0 && size_of_open_file(&now) == 0 && now > size && cut_to(size) != 0) {
        cut_owed_ = size;
    }
    return error;
}
