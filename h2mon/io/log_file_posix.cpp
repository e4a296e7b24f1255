#include "h2mon/io/log_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Linux files are shared and have no text mode: plain append.
int LogFile::open_path() {
    close_file();
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    file_ = fd;
    device_ = static_cast<std::uint64_t>(info.st_dev);
    number_ = static_cast<std::uint64_t>(info.st_ino);
    return 0;
}

void LogFile::close_file() {
    if (file_ != -1) {
        ::close(static_cast<int>(file_));
        file_ = -1;
    }
}

bool LogFile::names_open_file(std::int64_t* size) const {
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0 || static_cast<std::uint64_t>(info.st_dev) != device_ ||
        static_cast<std::uint64_t>(info.st_ino) != number_) {
        return false;
    }
    *size = static_cast<std::int64_t>(info.st_size);
    return true;
}

int LogFile::size_of_open_file(std::int64_t* size) const {
    struct stat info {};
    if (::fstat(static_cast<int>(file_), &info) != 0) {
        return errno;
    }
    *size = static_cast<std::int64_t>(info.st_size);
    return 0;
}

int LogFile::write_all(std::string_view row) {
    while (!row.empty()) {
        const ssize_t written = ::write(static_cast<int>(file_), row.data(), row.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : EIO;
        }
        row.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

int LogFile::cut_to(std::int64_t size) {
    return ::ftruncate(static_cast<int>(file_), static_cast<off_t>(size)) == 0 ? 0 : errno;
}
