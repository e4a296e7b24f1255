#include "tests/support/tmpfs_mount.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace h2test {

bool TmpfsMount::allowed() {
    return ::geteuid() == 0;
}

bool TmpfsMount::mount(const std::string& at, std::size_t bytes, std::string& error,
                       bool read_only) {
    unmount();
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    const unsigned long flags = MS_NOSUID | MS_NODEV | (read_only ? MS_RDONLY : 0);
    if (::mount("tmpfs", at.c_str(), "tmpfs", flags, options.c_str()) != 0) {
        error = "mount tmpfs on " + at + ": " + std::strerror(errno);
        return false;
    }
    at_ = at;
    return true;
}

void TmpfsMount::unmount() {
    if (!at_.empty()) {
        // Lazily: a program that still has a file open there does not keep it.
        ::umount2(at_.c_str(), MNT_DETACH);
        at_.clear();
    }
}

} // namespace h2test
