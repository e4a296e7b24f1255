// Named semaphores as in-use markers shared by every process of the user.
//
// Each name has a lock file in a private per-user directory; every holder keeps
// it open with a shared flock. A marker therefore exists exactly while some open
// file description holds that lock, and disappears when the last holder closes
// its handle or dies, since the kernel drops the locks of a dead process. "Did it
// exist already?" is answered by trying an exclusive lock: it is refused while
// anyone else holds the marker. Creators, and holders letting go, take a global
// lock file first, so two creators can never both take the exclusive lock and
// believe they were first, and the last holder can remove the lock file without
// a creator opening it in between. (A holder that dies leaves its empty file
// behind; the next creator takes it over.)
#include "h2mon/win32/posix/semaphore.h"
#include "h2mon/win32/posix/errno_map.h"
#include "h2mon/win32/posix/handles.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kDirectoryName[] = "h2mon-semaphores";
// Encoded names never begin with ".", so this cannot be a marker's file.
constexpr char kCreatorsLock[] = ".creators.lock";

// An open file descriptor that closes itself.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

int open_lock_file(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

bool lock(int fd, int operation) {
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// The global lock that creators and departing holders take, held while it lives.
class CreatorsLock {
public:
    explicit CreatorsLock(const std::string& directory)
        : fd_(open_lock_file(directory + "/" + kCreatorsLock)) {
        held_ = fd_.get() >= 0 && lock(fd_.get(), LOCK_EX);
    }
    bool held() const { return held_; }

private:
    Fd fd_;
    bool held_ = false;
};

// One holder of a marker. Closing the handle drops this holder's lock; the last
// holder also removes the lock file. Unnamed semaphores hold no file.
class SemaphoreMarker : public HandleObject {
public:
    SemaphoreMarker() : fd_(-1) {}
    SemaphoreMarker(int fd, std::string directory, std::string file)
        : fd_(fd), directory_(std::move(directory)), file_(std::move(file)) {}
    ~SemaphoreMarker() override {
        if (fd_.get() < 0) {
            return;
        }
        CreatorsLock creators(directory_);
        if (creators.held() && ::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
            ::unlink((directory_ + "/" + file_).c_str());
        }
    }

private:
    Fd fd_;
    std::string directory_;
    std::string file_;
};

bool is_private_directory(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// The user's marker directory: under the user's runtime directory when there is
// one, else in /tmp with the user id in its name. A directory that someone else
// owns or can enter is refused, so another user cannot plant or read markers.
bool marker_directory(std::string* directory) {
    const std::string uid = std::to_string(::geteuid());
    const std::string runtime = "/run/user/" + uid;
    struct stat info {};
    if (::stat(runtime.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == ::geteuid()) {
        *directory = runtime + "/" + kDirectoryName;
    } else {
        *directory = std::string("/tmp/") + kDirectoryName + "-" + uid;
    }
    if (::mkdir(directory->c_str(), 0700) != 0 && errno != EEXIST) {
        set_last_error_from_errno(errno);
        return false;
    }
    if (!is_private_directory(*directory)) {
        set_last_error_from_errno(EACCES);
        return false;
    }
    return true;
}

bool is_plain_character(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

// A file name that stands for exactly one marker name: letters, digits, "-", "_"
// and "." (except a leading one) stand for themselves, every other byte is "%XX".
// Names are case-sensitive, as Windows object names are.
std::string encode_name(const char* name) {
    std::string encoded;
    for (const char* p = name; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (is_plain_character(c) && !(c == '.' && p == name)) {
            encoded += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    return encoded;
}

// Opens the marker's lock file and takes a holder's shared lock on it; *existed
// tells whether another holder had it already. -1 on failure, with the last error.
int hold_marker(const std::string& directory, const std::string& file, bool* existed) {
    CreatorsLock creators(directory);
    if (!creators.held()) {
        set_last_error_from_errno(errno);
        return -1;
    }
    Fd marker(open_lock_file(directory + "/" + file));
    if (marker.get() < 0) {
        set_last_error_from_errno(errno);
        return -1;
    }
    if (::flock(marker.get(), LOCK_EX | LOCK_NB) == 0) {
        *existed = false;
    } else if (errno == EWOULDBLOCK) {
        *existed = true;
    } else {
        set_last_error_from_errno(errno);
        return -1;
    }
    // Turning the exclusive lock into a shared one briefly drops it; creators are
    // kept out meanwhile by the lock they share.
    if (!lock(marker.get(), LOCK_SH)) {
        set_last_error_from_errno(errno);
        return -1;
    }
    return marker.release();
}

} // namespace

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES /*attributes*/, LONG initialCount, LONG maximumCount,
                        LPCSTR name) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (name == nullptr || name[0] == '\0') {
        HANDLE handle = register_handle(new SemaphoreMarker()); // unnamed: nothing to share
        SetLastError(ERROR_SUCCESS);
        return handle;
    }
    if (std::string(name).size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const std::string file = encode_name(name);
    if (file.size() > NAME_MAX) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::string directory;
    if (!marker_directory(&directory)) {
        return nullptr;
    }
    bool existed = false;
    const int fd = hold_marker(directory, file, &existed);
    if (fd < 0) {
        return nullptr;
    }
    HANDLE handle = register_handle(new SemaphoreMarker(fd, directory, file));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}
