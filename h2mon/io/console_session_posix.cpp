// The console on Linux: single keystrokes from standard input, and the stop
// signals (held back for the whole run: StopSignals).
//
// Standard input that is a terminal is switched to non-canonical mode without echo
// while h2mon runs, so one keystroke is a key press. Standard input that is not a
// terminal (a pipe, a file, /dev/null under a service manager) counts a byte that
// can be read as a key; end of input or an error on it never does, so h2mon started
// with nothing on its input keeps running. The key test never blocks.
#include "h2mon/io/console_session.h"

#include "program/stop_signals.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Made once, before any thread starts, and never destroyed: what asks the run
// to end is heard until the process has ended.
const StopSignals* stop_signals = nullptr;

bool terminal_mode_saved = false;
termios saved_terminal_mode{};
termios key_terminal_mode{};

bool input_ended = false; // end of input or an error on a non-terminal stdin
int pending_key = -1;     // a byte read from a non-terminal stdin, not yet consumed

void restore_terminal_mode() {
    if (terminal_mode_saved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal_mode); // async-signal-safe
    }
}

// A crash or abort must not leave the user's terminal without echo.
void on_fatal_signal(int signal_number) {
    restore_terminal_mode();
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Ctrl-Z: give the shell its terminal mode back while stopped, take ours again
// when continued.
void on_terminal_stop(int) {
    const int saved_errno = errno;
    restore_terminal_mode();
    std::signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    errno = saved_errno;
}

void on_continue(int) {
    const int saved_errno = errno;
    if (terminal_mode_saved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &key_terminal_mode);
    }
    struct sigaction action {};
    action.sa_handler = on_terminal_stop;
    sigaction(SIGTSTP, &action, nullptr);
    errno = saved_errno;
}

void install_handler(int signal_number, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

bool stdin_is_foreground_terminal() {
    return isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp();
}

void enter_key_terminal_mode() {
    // A job started in the background must not touch the terminal (it would be
    // stopped by SIGTTOU); it is then stopped by a signal instead of a key.
    if (!stdin_is_foreground_terminal() || tcgetattr(STDIN_FILENO, &saved_terminal_mode) != 0) {
        return;
    }
    key_terminal_mode = saved_terminal_mode;
    key_terminal_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    key_terminal_mode.c_cc[VMIN] = 1;
    key_terminal_mode.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &key_terminal_mode) != 0) {
        return;
    }
    terminal_mode_saved = true;
    std::atexit(restore_terminal_mode);
    for (int fatal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGQUIT}) {
        install_handler(fatal, on_fatal_signal, SA_RESETHAND);
    }
    install_handler(SIGTSTP, on_terminal_stop, 0);
    install_handler(SIGCONT, on_continue, 0);
}

bool readable_now(int fd, short* revents) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) {
        return false;
    }
    *revents = p.revents;
    return true;
}

int terminal_key_waiting() {
    short revents = 0;
    if (!stdin_is_foreground_terminal() || !readable_now(STDIN_FILENO, &revents)) {
        return 0;
    }
    return (revents & POLLIN) != 0 ? 1 : 0;
}

int input_byte_waiting() {
    short revents = 0;
    if (input_ended || !readable_now(STDIN_FILENO, &revents)) {
        return 0;
    }
    if ((revents & POLLNVAL) != 0) {
        input_ended = true;
        return 0;
    }
    unsigned char byte = 0;
    const ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n == 1) {
        pending_key = byte;
        return 1;
    }
    if (n == 0 || errno != EINTR) {
        input_ended = true;
    }
    return 0;
}

} // namespace

void console_session_begin() {
    if (stop_signals == nullptr) {
        stop_signals = new StopSignals;
    }
    std::signal(SIGPIPE, SIG_IGN);
    enter_key_terminal_mode();
}

const StopSignals* session_stop_signals() {
    return stop_signals;
}

void interval_sleep(std::uint32_t milliseconds) {
    if (stop_signals != nullptr) {
        stop_signals->wait(std::chrono::milliseconds(milliseconds));
        return;
    }
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool stop_requested() {
    return stop_signals != nullptr && stop_signals->requested();
}

bool escape_sequences_shown() {
    return true;
}

bool key_waiting() {
    if (pending_key >= 0) {
        return true;
    }
    return (isatty(STDIN_FILENO) ? terminal_key_waiting() : input_byte_waiting()) != 0;
}

int take_key() {
    if (pending_key >= 0) {
        const int key = pending_key;
        pending_key = -1;
        return key;
    }
    if (!stdin_is_foreground_terminal()) {
        return 0;
    }
    unsigned char byte = 0;
    return read(STDIN_FILENO, &byte, 1) == 1 ? byte : 0;
}
