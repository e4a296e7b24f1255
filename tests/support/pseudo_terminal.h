// A real pseudo-terminal for the serial and end-to-end tests: the slave end is the "device"
// the code under test opens by path; the test plays the far end of the line
// through the master.
#pragma once

#include <termios.h>

#include <cstddef>
#include <string>

class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The slave device's path, e.g. "/dev/pts/3".
    const std::string& path() const { return path_; }
    // The two ends, for a test that serves the line itself (-1 once closed).
    int master_fd() const { return master_; }
    int slave_fd() const { return slave_; }

    // Sends bytes to the device, as the far end of the line would.
    void send(const std::string& bytes) const;
    // Waits (up to a second) until the device holds at least `count` unread bytes.
    bool wait_for_input(std::size_t count) const;
    // Waits (up to `timeout_ms`) until the program that has the device open has
    // read every byte sent to it. A poll of the device also hands the kernel's
    // pending input to the line discipline, so bytes still on their way count
    // as unread.
    bool wait_until_taken(int timeout_ms) const;
    // Receives `count` bytes the device wrote, waiting up to `timeout_ms` for them.
    std::string receive(std::size_t count, int timeout_ms) const;
    // Whatever the device has written and the master not yet read; never waits.
    std::string take_output() const;
    // Stops the device's output, as a terminal's Ctrl+S or flow control do:
    // writes to the device then wait (hold true); or lets it go on (hold false).
    bool hold_output(bool hold) const;
    // The far end goes away: the device sees a hang-up.
    void close_master();

    // The device's settings, read through a descriptor the fixture holds open
    // (so reading them needs no second open of a port opened for exclusive use).
    termios settings() const;
    // Changes the device's settings, as another program sharing it would.
    void change_settings(const termios& line) const;
    // The device's output speed as the kernel holds it, arbitrary rates included.
    unsigned kernel_output_speed() const;
    // Whether the device is marked for exclusive use (TIOCEXCL).
    bool exclusive() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};
