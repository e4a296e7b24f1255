#include "h2sim/simulator_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string reason(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool make_raw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

} // namespace

bool SimulatorLine::open(std::string& error) {
    close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error = reason("posix_openpt");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = reason("grantpt/unlockpt");
        close();
        return false;
    }
    const char* name = ptsname(master_);
    if (name == nullptr) {
        error = reason("ptsname");
        close();
        return false;
    }
    slave_path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        error = reason(name);
        close();
        return false;
    }
    if (!make_raw(slave_)) {
        error = reason("setting the line to raw mode");
        close();
        return false;
    }
    if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
        error = reason("fcntl");
        close();
        return false;
    }
    return true;
}

void SimulatorLine::close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

int SimulatorLine::unread_by_slave() const {
    int count = 0;
    if (slave_ < 0 || ioctl(slave_, TIOCINQ, &count) != 0) {
        return 0;
    }
    return count;
}

bool SlaveLink::create(const std::string& path, const std::string& target, std::string& error) {
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = path + ": exists and is not a symbolic link";
            return false;
        }
        ::unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        error = reason(path.c_str());
        return false;
    }
    path_ = path;
    target_ = target;
    return true;
}

void SlaveLink::remove() {
    if (path_.empty()) {
        return;
    }
    char target[4096] = {};
    const ssize_t length = readlink(path_.c_str(), target, sizeof target - 1);
    if (length >= 0 && target_ == std::string(target, static_cast<std::size_t>(length))) {
        ::unlink(path_.c_str());
    }
    path_.clear();
}
