// Opening and closing serial ports on real pseudo-terminals: exclusive use,
// device names, failures and their texts, and the device left as it was found.
#include "h2mon/win32/win32.h"
#include "h2mon/win32/posix/errno_map.h"
#include "tests/support/dcb.h"
#include "tests/support/forked_child.h"
#include "tests/support/pseudo_terminal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

HANDLE open_port(const std::string& path, DWORD share_mode = 0) {
    return CreateFileA(path.c_str(), kReadWrite, share_mode, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string system_text(DWORD error) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    const std::string result = text == nullptr ? "" : text;
    LocalFree(text);
    return result;
}

// The outcome of one open: 0 when it succeeded (the handle is closed again),
// else the error number.
DWORD open_outcome(const std::string& path) {
    HANDLE port = open_port(path);
    if (port == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    CloseHandle(port);
    return 0;
}

TEST(CommOpen, SecondOpenerInThisProcessIsRefusedUntilTheFirstCloses) {
    PseudoTerminal pty;
    HANDLE first = open_port(pty.path());
    ASSERT_NE(first, INVALID_HANDLE_VALUE);

    EXPECT_EQ(open_port(pty.path()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(system_text(ERROR_ACCESS_DENIED), std::string(std::strerror(EBUSY)) + "\n");

    ASSERT_TRUE(CloseHandle(first));
    HANDLE again = open_port(pty.path());
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST(CommOpen, SecondOpenerInAnotherProcessIsRefused) {
    PseudoTerminal pty;
    HANDLE port = open_port(pty.path());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);

    const int status = run_in_child(
        [&] {
            const bool refused = open_port(pty.path()) == INVALID_HANDLE_VALUE &&
                                 GetLastError() == static_cast<DWORD>(ERROR_ACCESS_DENIED);
            return refused ? 0 : 1;
        },
        5000);
    EXPECT_EQ(status, 0);
    CloseHandle(port);
}

// A holder that is killed leaves nothing behind that keeps the port from the
// next opener, even an unprivileged one, while the far end of the line stays
// open (a bridge, the simulator).
TEST(CommOpen, AKilledHolderLeavesThePortFree) {
    PseudoTerminal pty;
    ForkedChild holder([&](ForkedChild& self) {
        self.tell(open_port(pty.path()) != INVALID_HANDLE_VALUE ? 'o' : 'f');
        self.hear(); // held until killed
    });
    ASSERT_EQ(holder.hear(), 'o');
    EXPECT_EQ(open_port(pty.path()), INVALID_HANDLE_VALUE);
    holder.kill();

    EXPECT_FALSE(pty.exclusive());
    EXPECT_EQ(open_outcome(pty.path()), 0u);
    if (geteuid() == 0) {
        // The kernel lets root open an exclusive terminal: try as another user.
        ASSERT_EQ(chmod(pty.path().c_str(), 0666), 0);
        const int status = run_in_child(
            [&] {
                if (setgid(65534) != 0 || setuid(65534) != 0) {
                    return 2;
                }
                return open_outcome(pty.path()) == 0 ? 0 : 1;
            },
            5000);
        EXPECT_EQ(status, 0);
    }
}

TEST(CommOpen, SharingOpenersCoexistAndKeepOutAnExclusiveOne) {
    PseudoTerminal pty;
    constexpr DWORD kShareReadWrite = 3;
    HANDLE first = open_port(pty.path(), kShareReadWrite);
    HANDLE second = open_port(pty.path(), kShareReadWrite);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);

    EXPECT_EQ(open_port(pty.path()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(pty.exclusive());
    CloseHandle(first);
    CloseHandle(second);
}

TEST(CommOpen, MissingDeviceIsNotFoundWithTheSystemText) {
    EXPECT_EQ(open_port("/dev/ttyh2mon-no-such-device"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(system_text(ERROR_FILE_NOT_FOUND), std::string(std::strerror(ENOENT)) + "\n");
}

TEST(CommOpen, ComNamesOutsideTheMappingAreNotFound) {
    for (const char* path : {"/dev/COM0", "/dev/COM129", "/dev/COM01", "/dev/com64"}) {
        if (std::string(path) == "/dev/com64" && access("/dev/ttyUSB31", F_OK) == 0) {
            continue; // the mapped device happens to exist here
        }
        EXPECT_EQ(open_port(path), INVALID_HANDLE_VALUE) << path;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << path;
    }
}

TEST(CommOpen, ComNameOpensTheMappedDevice) {
    // Whatever opening the device itself gives (success, or the device's own
    // error when no UART sits behind it), its COM name must give the same.
    EXPECT_EQ(open_outcome("/dev/cOm1"), open_outcome("/dev/ttyS0"));
    EXPECT_EQ(open_outcome("/dev/COM33"), open_outcome("/dev/ttyUSB0"));
}

TEST(CommOpen, DeviceThatIsNoTerminalIsRefused) {
    EXPECT_EQ(open_port("/dev/null"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), LINUX_ERRNO_FLAG | ENOTTY);
}

TEST(CommOpen, PortNeverBecomesTheControllingTerminal) {
    PseudoTerminal pty;
    const int status = run_in_child(
        [&] {
            setsid(); // a new session without a controlling terminal
            if (open_port(pty.path()) == INVALID_HANDLE_VALUE) {
                return 2;
            }
            const int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
            return tty == -1 ? 0 : 1;
        },
        5000);
    EXPECT_EQ(status, 0);
}

TEST(CommOpen, PortDescriptorIsClosedOnExec) {
    PseudoTerminal pty;
    HANDLE port = open_port(pty.path());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);

    int port_descriptors = 0;
    DIR* fds = opendir("/proc/self/fd");
    ASSERT_NE(fds, nullptr);
    while (dirent* entry = readdir(fds)) {
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) <= 0 || pty.path() != target) {
            continue;
        }
        const int fd = std::atoi(entry->d_name);
        const int flags = fcntl(fd, F_GETFL);
        // The fixture's own descriptor is blocking; the port's is not.
        if ((flags & O_NONBLOCK) != 0) {
            ++port_descriptors;
            EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
        }
    }
    closedir(fds);
    EXPECT_EQ(port_descriptors, 1);
    CloseHandle(port);
}

TEST(CommOpen, ClosingPutsBackExactlyTheSettingsTheDeviceHad) {
    PseudoTerminal pty;
    const termios before = pty.settings();
    const unsigned speed_before = pty.kernel_output_speed();

    HANDLE port = open_port(pty.path());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DCB dcb = dcb_left_by_another_program();
    dcb.BaudRate = 12345; // a speed only the kernel's own speed field holds
    ASSERT_TRUE(SetCommState(port, &dcb));
    const termios changed = pty.settings();
    ASSERT_NE(std::memcmp(&before, &changed, sizeof before), 0);
    ASSERT_TRUE(CloseHandle(port));

    const termios after = pty.settings();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    EXPECT_EQ(pty.kernel_output_speed(), speed_before);
    EXPECT_NE(after.c_lflag & ICANON, 0u); // a pseudo-terminal's own line editing is back
    EXPECT_NE(after.c_lflag & ECHO, 0u);
}

TEST(CommOpen, CloseHandleRefusesHandlesThatAreNotOpen) {
    PseudoTerminal pty;
    HANDLE port = open_port(pty.path());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(port));

    for (HANDLE handle : {port, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    DCB dcb{};
    EXPECT_FALSE(GetCommState(port, &dcb));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
