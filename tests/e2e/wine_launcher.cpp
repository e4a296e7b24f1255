// The launcher for the Windows build: h2mon.exe under Wine, in the project's
// private prefix (scripts/wine.sh), on a Wine COM port that opens the test's line.
//
// Under Wine a program has a console only when one of its standard handles is a
// terminal, and only a key written into that console's input reaches its key
// test (a byte on a pipe or a terminal never does). So h2mon.exe's standard
// error is a pseudo-terminal of the launcher's, and press_key.exe, attached to
// that console, types the key.
//
// The Windows runtime writes text-mode output: every line end is "\r\n". The
// launcher checks that and hands the tests the text with "\n" line ends, so
// that they compare it with the same expectations as the Linux build's.
#include "tests/e2e/child_h2mon.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace e2e {

namespace {

// The Windows ports the launcher maps to test lines, taken in turn by each new
// line, so that a test may hold a few lines at once.
constexpr int kFirstPort = 11;
constexpr int kPortCount = 3;

// The Windows build's programs, as the Windows build's test run names them
// (tests/wine); empty when the test is run otherwise.
std::string windows_program(const char* variable) {
    const char* given = std::getenv(variable);
    return given != nullptr ? given : "";
}

const std::string& h2mon_exe() {
    static const std::string path = windows_program("H2MON_EXE");
    return path;
}

const std::string& press_key_exe() {
    static const std::string path = windows_program("PRESS_KEY_EXE");
    return path;
}

const std::string& console_event_exe() {
    static const std::string path = windows_program("CONSOLE_EVENT_EXE");
    return path;
}

// Runs scripts/wine.sh with `args`; its output goes where the test's goes.
bool wine_sh(const std::string& args) {
    const std::string command = std::string("'") + WINE_SH + "' " + args;
    return std::system(command.c_str()) == 0;
}

// `raw` with each "\r\n" made "\n".
std::string from_text_mode(const std::string& raw) {
    std::string text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\r' || i + 1 == raw.size() || raw[i + 1] != '\n') {
            text += raw[i];
        }
    }
    return text;
}

// Expects every line end of `raw` to be "\r\n", and returns it with "\n" ones.
std::string checked_text_mode(const std::string& raw, const char* what) {
    for (std::size_t at = raw.find('\n'); at != std::string::npos; at = raw.find('\n', at + 1)) {
        if (at == 0 || raw[at - 1] != '\r') {
            ADD_FAILURE() << what << ": a line end without carriage return at byte " << at;
            break;
        }
    }
    return from_text_mode(raw);
}

// How often a wait stops to empty the console's terminal, whose buffer would
// otherwise fill and hold up the program's console writes.
constexpr milliseconds kConsoleDrainInterval{100};

class WineH2mon : public H2mon {
public:
    ~WineH2mon() override {
        if (console_master_ >= 0) {
            ::close(console_master_);
        }
    }

    // Output::Console: standard output goes to the console too.
    bool start(const std::vector<std::string>& args, Input input, Output output,
               std::string& error) {
        console_master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (console_master_ < 0 || grantpt(console_master_) != 0 ||
            unlockpt(console_master_) != 0) {
            error = "no pseudo-terminal for the console";
            return false;
        }
        const std::string script = output == Output::Console
                                       ? "exec 2<>\"$H2_CONSOLE\" 1>&2; exec \"$@\""
                                       : "exec 2<>\"$H2_CONSOLE\"; exec \"$@\"";
        std::vector<std::string> argv = {"/bin/sh", "-c",  script,     "sh",
                                         WINE_SH,   "run", h2mon_exe()};
        argv.insert(argv.end(), args.begin(), args.end());
        return child_.start(argv, {std::string("H2_CONSOLE=") + ptsname(console_master_)}, input,
                            Output::Pipe, error);
    }

    const std::string& output() const override { return output_; }

    bool wait_for_output(const std::function<bool(const std::string&)>& done,
                         milliseconds timeout) override {
        const auto text_done = [&done](const std::string& raw) {
            return done(from_text_mode(raw));
        };
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool met = false;
        while (!(met = child_.wait_for_output(text_done, slice(deadline))) &&
               std::chrono::steady_clock::now() < deadline) {
            error_output();
        }
        output_ = from_text_mode(child_.output());
        return met;
    }

    // What the console's terminal received: Wine's own terminal control, and
    // whatever h2mon.exe wrote to standard error.
    const std::string& error_output() override {
        char buffer[4096];
        for (ssize_t n; (n = ::read(console_master_, buffer, sizeof buffer)) > 0;) {
            console_.append(buffer, static_cast<std::size_t>(n));
        }
        return console_;
    }

    // press_key.exe and console_event.exe find the program by name: the prefix
    // is the tests' own, and they run one h2mon.exe at a time.
    bool press_key(char key) override {
        return wine_sh("run " + h2test::shell_quoted(press_key_exe()) + " h2mon.exe " +
                       h2test::shell_quoted(std::string(1, key)));
    }

    // Wine turns SIGINT into the console's Ctrl-C event, as for a Ctrl-C typed
    // on its terminal.
    bool send(StopEvent event) override {
        switch (event) {
        case StopEvent::Interrupt:
            return child_.send(event);
        case StopEvent::EndSession:
            return wine_sh("run " + h2test::shell_quoted(console_event_exe()) +
                           " h2mon.exe end-session");
        case StopEvent::CloseWindow:
            // Its report ("Close message sent ...", or that it found no window)
            // is of no interest: its exit code says which.
            return wine_sh("run taskkill /im h2mon.exe >/dev/null");
        default:
            return false;
        }
    }

    bool close_at_first_window() override {
        return wine_sh("run " + h2test::shell_quoted(console_event_exe()) +
                       " h2mon.exe first-close");
    }

    // The console is the terminal standard error is on.
    const std::string& console_output() override {
        console_text_ = from_text_mode(error_output());
        return console_text_;
    }

    bool console_input_mode(unsigned& mode) override {
        const std::string command = std::string("'") + WINE_SH + "' run " +
                                    h2test::shell_quoted(console_event_exe()) +
                                    " h2mon.exe input-mode";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) {
            return false;
        }
        const bool read = std::fscanf(pipe, "%x", &mode) == 1;
        return ::pclose(pipe) == 0 && read;
    }

    void close_output() override { child_.close_output(); }

    bool wait_exit(int& code, milliseconds timeout) override {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool ended = false;
        while (!(ended = child_.wait_exit(code, slice(deadline))) &&
               std::chrono::steady_clock::now() < deadline) {
            error_output();
        }
        output_ = checked_text_mode(child_.output(), "standard output");
        return ended;
    }

    bool running() override { return child_.running(); }
    double cpu_seconds() override { return child_.cpu_seconds(); }
    int terminal_master() const override { return -1; }
    const termios& terminal_settings_at_start() const override { return no_terminal_; }

private:
    static milliseconds slice(std::chrono::steady_clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        return std::max(milliseconds(0), std::min(left, kConsoleDrainInterval));
    }

    ChildH2mon child_;
    int console_master_ = -1;
    std::string output_;
    std::string console_;
    std::string console_text_;
    termios no_terminal_{};
};

class WineLauncher : public Launcher {
public:
    WineLauncher() { started_ = wine_sh("start"); }

    // The same line keeps its port as long as no other line has taken it.
    std::string port_name(const std::string& device_path) override {
        for (int i = 0; i < kPortCount; ++i) {
            if (devices_[i] == device_path) {
                return port(i);
            }
        }
        const int slot = next_port_;
        next_port_ = (next_port_ + 1) % kPortCount;
        devices_[slot] = device_path;
        EXPECT_TRUE(wine_sh("map-port " + port(slot) + " " + h2test::shell_quoted(device_path)))
            << port(slot) << " not mapped to " << device_path;
        return port(slot);
    }

    std::string missing_port() override { return "COM250"; }

    // The wording is Wine's.
    std::string system_text(SystemError error) override {
        switch (error) {
        case SystemError::NoSuchPort:
            return "File not found.\n";
        case SystemError::LineGone:
            return "Not ready.\n";
        case SystemError::WriteTimedOut:
            return "Timeout.\n";
        case SystemError::BadModeString:
            return "Invalid parameter.\n";
        }
        return "";
    }

    // Under Wine h2mon.exe's key test sees no terminal keys, its console writes
    // to the terminal, a read from a hung-up line returns no bytes instead of
    // failing, the Wine server may hold standard output's pipe open after the
    // test closes it, and its serial driver sets terminal flags of its own
    // (IGNBRK, NOFLSH) beside a DCB's. A console whose terminal holds its
    // output holds the whole of Wine's console, its key test too, where
    // Windows' console holds only the writes.
    bool can(Capability capability) const override {
        return capability == Capability::NullInput || capability == Capability::CpuTime ||
               capability == Capability::WindowsConsole || capability == Capability::ConsoleOutput;
    }

    // Wine raises no Ctrl-Break and no closing of the console window.
    bool can_send(StopEvent event) const override {
        return event == StopEvent::Interrupt || event == StopEvent::EndSession ||
               event == StopEvent::CloseWindow;
    }

    std::string text_file(const std::string& path) override {
        return checked_text_mode(h2test::read_text_file(path), path.c_str());
    }

    std::unique_ptr<H2mon> start(const std::vector<std::string>& args, Input input, Output output,
                                 std::string& error) override {
        if (!started_) {
            error = "the Wine prefix could not be made or started";
            return nullptr;
        }
        if (::access(h2mon_exe().c_str(), R_OK) != 0) {
            error =
                "no h2mon.exe ('" + h2mon_exe() +
                "'): run this test through the mingw preset's tests, which name it in H2MON_EXE";
            return nullptr;
        }
        auto h2mon = std::make_unique<WineH2mon>();
        if (!h2mon->start(args, input, output, error)) {
            return nullptr;
        }
        return h2mon;
    }

private:
    static std::string port(int slot) { return "COM" + std::to_string(kFirstPort + slot); }

    bool started_ = false;
    std::string devices_[kPortCount];
    int next_port_ = 0;
};

} // namespace

Launcher& launcher() {
    static WineLauncher wine;
    return wine;
}

} // namespace e2e
