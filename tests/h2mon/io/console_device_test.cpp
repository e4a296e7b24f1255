#include "h2mon/io/console_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The console device is opened once per process, on first use, so every case
// calls console_putch only in a child that has set up its own session first.

// Writes "hi!" with console_putch and exits with 0 when each call returned its
// character, 1 when a call returned EOF. Exits only once `release` is readable
// or closed, so that the terminal stays open until the parent has read it.
[[noreturn]] void put_text_and_exit(int release) {
    int status = 0;
    for (const char c : std::string("hi!")) {
        if (console_putch(c) != static_cast<unsigned char>(c)) {
            status = 1;
        }
    }
    char byte;
    (void)!read(release, &byte, 1);
    _exit(status);
}

int exit_status_of(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads what arrives within a few seconds, up to `wanted` bytes.
std::string read_some(int fd, std::size_t wanted) {
    std::string text;
    char buffer[64];
    pollfd ready{fd, POLLIN, 0};
    while (text.size() < wanted && poll(&ready, 1, 5000) > 0) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

TEST(ConsoleDevice, WritesToTheControllingTerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave_path = ptsname(master);
    int release[2];
    ASSERT_EQ(pipe(release), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A new session without a terminal: the first terminal it opens becomes
        // its controlling terminal, which /dev/tty then names.
        setsid();
        const int slave = open(slave_path.c_str(), O_RDWR);
        if (slave < 0) {
            _exit(2);
        }
        close(release[1]);
        put_text_and_exit(release[0]);
    }
    close(release[0]);
    EXPECT_EQ(read_some(master, 3), "hi!");
    close(release[1]);
    EXPECT_EQ(exit_status_of(child), 0);
    close(master);
}

TEST(ConsoleDevice, WithoutControllingTerminalDropsTheCharacterAndWritesNothingElse) {
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setsid();
        dup2(output[1], STDOUT_FILENO);
        dup2(output[1], STDERR_FILENO);
        close(output[0]);
        close(output[1]);
        put_text_and_exit(-1); // nothing to wait for: the read fails at once
    }
    close(output[1]);
    EXPECT_EQ(exit_status_of(child), 1);
    EXPECT_EQ(read_some(output[0], 1), "");
    close(output[0]);
}

} // namespace
