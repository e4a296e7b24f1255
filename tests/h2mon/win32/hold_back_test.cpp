// How long a device holds received bytes back, learned from a sysfs tree that
// the test lays out for a real device: a pseudo-terminal, or /dev/null standing
// for a character device that is no pseudo-terminal.
#include "h2mon/win32/hold_back.h"
#include "h2mon/win32/posix/hold_back.h"
#include "tests/support/process.h"
#include "tests/support/pseudo_terminal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The device's folder under /sys/dev/char in a tree rooted at `root`.
std::string device_folder(const std::string& root, int fd) {
    struct stat status {};
    EXPECT_EQ(fstat(fd, &status), 0);
    return root + "/dev/char/" + std::to_string(major(status.st_rdev)) + ":" +
           std::to_string(minor(status.st_rdev));
}

struct Attribute {
    const char* path; // within the device's folder
    const char* text;
};

TEST(HoldBack, ComesFromTheDriversLatencyTimerOrWhatTheDeviceIs) {
    struct Case {
        const char* what;
        bool pseudo_terminal; // else a character device that is none
        std::vector<Attribute> attributes;
        std::int32_t hold_back;
    };
    const Case cases[] = {
        {"an FTDI adapter", false, {{"device/latency_timer", "16\n"}}, 16},
        {"an FTDI adapter turned down", false, {{"device/latency_timer", "1\n"}}, 1},
        {"an FTDI adapter at its longest", false, {{"device/latency_timer", "255\n"}}, 255},
        {"a latency that is no number", false, {{"device/latency_timer", "16ms\n"}}, -1},
        {"a latency out of range", false, {{"device/latency_timer", "256\n"}}, -1},
        {"a UART of the serial core", false, {{"uartclk", "1843200\n"}, {"type", "4\n"}}, 0},
        {"a placeholder UART", false, {{"uartclk", "1843200\n"}, {"type", "0\n"}}, -1},
        {"a device that says nothing (cp210x, cdc_acm)", false, {}, -1},
        {"a pseudo-terminal", true, {}, 0},
        {"a pseudo-terminal behind a simulated adapter",
         true,
         {{"device/latency_timer", "16\n"}},
         16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        h2test::TempDir root;
        PseudoTerminal pty;
        const int fd = c.pseudo_terminal ? pty.slave_fd() : open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const std::string folder = device_folder(root.path(), fd);
        for (const Attribute& attribute : c.attributes) {
            const std::string path = folder + "/" + attribute.path;
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            std::ofstream(path) << attribute.text;
        }
        EXPECT_EQ(device_hold_back_ms(fd, root.path()), c.hold_back);
        if (!c.pseudo_terminal) {
            close(fd);
        }
    }
}

TEST(HoldBack, OfAPortHandle) {
    PseudoTerminal pty;
    HANDLE port = CreateFileA(pty.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(port_hold_back_ms(port), 0);
    CloseHandle(port);
    EXPECT_EQ(port_hold_back_ms(port), -1);
}

} // namespace
