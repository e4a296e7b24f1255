#include "tests/support/pseudo_terminal.h"
#include "tests/support/kernel_speed.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0, "posix_openpt");
    path_ = ptsname(master_);
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(slave_ >= 0, "open slave");
}

PseudoTerminal::~PseudoTerminal() {
    close_master();
    close(slave_);
}

void PseudoTerminal::send(const std::string& bytes) const {
    check(write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
          "write to master");
}

bool PseudoTerminal::wait_for_input(std::size_t count) const {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < limit) {
        int waiting = 0;
        if (ioctl(slave_, TIOCINQ, &waiting) == 0 && static_cast<std::size_t>(waiting) >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool PseudoTerminal::wait_until_taken(int timeout_ms) const {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < limit) {
        pollfd entry{slave_, POLLIN, 0};
        if (poll(&entry, 1, 0) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::string PseudoTerminal::receive(std::size_t count, int timeout_ms) const {
    std::string bytes;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (bytes.size() < count && std::chrono::steady_clock::now() < limit) {
        pollfd entry{master_, POLLIN, 0};
        if (poll(&entry, 1, 10) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n > 0) {
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
    }
    return bytes;
}

std::string PseudoTerminal::take_output() const {
    std::string bytes;
    for (;;) {
        pollfd entry{master_, POLLIN, 0};
        char chunk[4096];
        ssize_t n = 0;
        if (poll(&entry, 1, 0) <= 0 || (n = read(master_, chunk, sizeof chunk)) <= 0) {
            return bytes;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
}

bool PseudoTerminal::hold_output(bool hold) const {
    return tcflow(slave_, hold ? TCOOFF : TCOON) == 0;
}

void PseudoTerminal::close_master() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

termios PseudoTerminal::settings() const {
    termios line{};
    check(tcgetattr(slave_, &line) == 0, "tcgetattr");
    return line;
}

void PseudoTerminal::change_settings(const termios& line) const {
    check(tcsetattr(slave_, TCSANOW, &line) == 0, "tcsetattr");
}

unsigned PseudoTerminal::kernel_output_speed() const {
    return kernel_output_speed_of(slave_);
}

bool PseudoTerminal::exclusive() const {
    int exclusive = 0;
    check(ioctl(slave_, TIOCGEXCL, &exclusive) == 0, "TIOCGEXCL");
    return exclusive != 0;
}
