#include "h2export/log_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

PathState state_of(const struct stat& info, FileId& id, std::int64_t& size) {
    if (S_ISDIR(info.st_mode)) {
        return PathState::kDirectory;
    }
    id = FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    size = static_cast<std::int64_t>(info.st_size);
    return PathState::kFile;
}

PathState from_errno(const std::string& path, std::string& error) {
    error = path + ": " + std::strerror(errno);
    return errno == ENOENT || errno == ENOTDIR ? PathState::kMissing : PathState::kUnreadable;
}

} // namespace

PathState look_at(const std::string& path, FileId& id, std::int64_t& size, std::string& error) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return from_errno(path, error);
    }
    return state_of(info, id, size);
}

bool modified_ns(const std::string& path, std::int64_t& unix_ns) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return false;
    }
    unix_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

PathState LogFile::open(const std::string& path, std::string& error) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == EISDIR ? PathState::kDirectory : from_errno(path, error);
    }
    struct stat info;
    std::int64_t size;
    const PathState state =
        ::fstat(fd, &info) == 0 ? state_of(info, id_, size) : from_errno(path, error);
    if (state != PathState::kFile) {
        ::close(fd);
        return state;
    }
    fd_ = fd;
    return state;
}

bool LogFile::is_open() const {
    return fd_ >= 0;
}

void LogFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::int64_t LogFile::size() const {
    struct stat info;
    return ::fstat(fd_, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

long LogFile::read_at(std::int64_t offset, char* buffer, std::size_t count) const {
    for (;;) {
        const ssize_t got = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) {
            return static_cast<long>(got);
        }
    }
}

int LogFile::reader_descriptor() const {
    const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0 && ::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
