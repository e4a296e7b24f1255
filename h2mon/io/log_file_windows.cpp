#include "h2mon/io/log_file.h"

#include <cerrno>
#include <cstdio>
#include <io.h>
#include <share.h>

namespace {

std::FILE* stream_of(std::intptr_t file) {
    return reinterpret_cast<std::FILE*>(file);
}

} // namespace

// Text mode ("\n" written as "\r\n"), shared for reading and writing, without
// delete sharing: the file cannot be renamed or deleted while it is open.
// Unbuffered, so a row that fails is known at once and cut off.
int LogFile::open_path() {
    close_file();
    std::FILE* stream = _fsopen(path_.c_str(), "at", _SH_DENYNO);
    if (stream == nullptr) {
        return errno;
    }
    std::setvbuf(stream, nullptr, _IONBF, 0);
    file_ = reinterpret_cast<std::intptr_t>(stream);
    return 0;
}

void LogFile::close_file() {
    if (file_ != -1) {
        std::fclose(stream_of(file_));
        file_ = -1;
    }
}

// No other file can have the path while this one is open.
bool LogFile::names_open_file(std::int64_t* size) const {
    return size_of_open_file(size) == 0;
}

int LogFile::size_of_open_file(std::int64_t* size) const {
    const long long length = _filelengthi64(_fileno(stream_of(file_)));
    if (length < 0) {
        return errno;
    }
    *size = length;
    return 0;
}

int LogFile::write_all(std::string_view row) {
    std::FILE* stream = stream_of(file_);
    errno = 0;
    if (std::fwrite(row.data(), 1, row.size(), stream) == row.size()) {
        return 0;
    }
    const int error = errno != 0 ? errno : EIO;
    std::clearerr(stream);
    return error;
}

int LogFile::cut_to(std::int64_t size) {
    return _chsize_s(_fileno(stream_of(file_)), size);
}
