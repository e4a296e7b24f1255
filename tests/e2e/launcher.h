// How the end-to-end tests run h2mon: "start h2mon with these arguments, with
// this standard input", behind one small interface, so that the same test cases
// can run the Linux binary directly or another build of the program some other
// way (the Windows build under Wine, with a COM port mapped to the test's line).
//
// Each test executable links exactly one launcher implementation, which defines
// launcher(). The tests ask it for the port name of a line, for the system's
// error texts, and whether it can do what a test needs (signals, a terminal on
// standard input, ...); a test that needs what the launcher cannot do is skipped.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <termios.h>
#include <vector>

namespace e2e {

using std::chrono::milliseconds;

// What h2mon's standard input is.
enum class Input {
    Pipe,     // a pipe from the test; press_key writes a byte to it
    Null,     // /dev/null: at its end from the start, never a key
    Terminal, // a pseudo-terminal that is h2mon's controlling terminal and standard input
};

// Where h2mon's standard output goes.
enum class Output {
    Pipe,    // a pipe to the test: output()
    Console, // a console, as when an operator runs h2mon in a terminal or a
             // console window: console_output()
};

// What the system sends a program to end it in an orderly way.
enum class StopEvent {
    Interrupt,   // SIGINT; on Windows Ctrl-C (which Wine delivers as SIGINT)
    Terminate,   // SIGTERM
    HangUp,      // SIGHUP
    EndSession,  // Windows: the user's session ends (logging off)
    CloseWindow, // Windows: taskkill without /F, the system's own, which posts WM_CLOSE
                 // to the program's top-level windows
};

// What a launcher may or may not be able to do.
enum class Capability {
    NullInput,         // Input::Null
    TerminalInput,     // Input::Terminal
    CpuTime,           // cpu_seconds() of the running program
    QuietStderr,       // nothing else writes to h2mon's standard error, so it can be checked empty
    ReadFailsOnHangUp, // a read from a line whose far end has gone away fails
    WholeLineRestored, // every terminal setting of the line comes back as found, not
                       // only those a DCB carries (speed, character format, flow control)
    WindowsConsole,    // h2mon runs in a Windows console (console_input_mode)
    OutputReaderGone,  // close_output() reaches h2mon as a closed pipe
    ConsoleOutput,     // Output::Console
    HeldConsole,       // hold_console() holds the console's output and nothing else of it
    KeyAtOnce,         // press_key() reaches h2mon's key test at once (a byte on its input),
                       // not through a helper program that takes its time to start
    LogRenamedWhileOpen, // the test may rename or delete the log while h2mon has it open
                         // (Windows refuses both for a file open without delete sharing)
};

// Failures whose text comes from the system and differs between systems.
enum class SystemError {
    NoSuchPort,    // opening a port that does not exist
    LineGone,      // reading from or writing to a line that has been hung up
    WriteTimedOut, // a write the line held off until its time-out
    BadModeString, // a mode string that does not parse
};

// One running (or finished) h2mon.
class H2mon {
public:
    virtual ~H2mon() = default;

    // Standard output received so far.
    virtual const std::string& output() const = 0;
    // Reads standard output until `done(output())` holds or `timeout` passes;
    // returns whether it holds.
    virtual bool wait_for_output(const std::function<bool(const std::string&)>& done,
                                 milliseconds timeout) = 0;
    // Standard error received so far.
    virtual const std::string& error_output() = 0;

    // Presses a key on h2mon's console: a byte on the stdin pipe, a keystroke on
    // its terminal.
    virtual bool press_key(char key) = 0;
    // Sends h2mon a stop event the launcher can send (Launcher::can_send).
    virtual bool send(StopEvent event) = 0;
    // The reader of standard output goes away, as `h2mon ... | head` does when
    // head has had enough: the test's end of the pipe is closed. Output that
    // comes after this is lost.
    virtual void close_output() = 0;

    // Waits for the exit, then collects the rest of the output. `code` is the exit
    // code, or -(signal number) when a signal ended the program.
    virtual bool wait_exit(int& code, milliseconds timeout) = 0;
    virtual bool running() = 0;

    // Processor time (user and system) used so far; a running program only.
    virtual double cpu_seconds() = 0;

    // Input::Terminal: the test's end of h2mon's terminal, where echo would
    // appear; -1 otherwise. Its settings (tcgetattr) are the terminal's.
    virtual int terminal_master() const = 0;
    // Input::Terminal: the terminal's settings just before h2mon started.
    virtual const termios& terminal_settings_at_start() const = 0;

    // Output::Console: what the console has shown so far, with "\n" line ends.
    // Where standard error shares the console (under Wine), its text is there too.
    virtual const std::string& console_output() = 0;
    // Output::Console: the console holds its output, as Ctrl+S, Pause or a
    // selection make it do (hold true), or lets it go on (hold false). False
    // where the launcher cannot (Capability::HeldConsole).
    virtual bool hold_console(bool hold) {
        (void)hold;
        return false;
    }

    // Windows: WM_CLOSE to every top-level window h2mon has at the first moment
    // it has one, as taskkill without /F sends it (which can hit that moment
    // only by chance). Waits for that moment. False where the launcher cannot.
    virtual bool close_at_first_window() { return false; }

    // Windows: the mode of h2mon's console input buffer (GetConsoleMode). False
    // where there is none.
    virtual bool console_input_mode(unsigned& mode) {
        (void)mode;
        return false;
    }
};

class Launcher {
public:
    virtual ~Launcher() = default;

    // What to give /port for the serial line whose device is `device_path` (a
    // pseudo-terminal the test or the simulator plays the maser on).
    virtual std::string port_name(const std::string& device_path) = 0;
    // A port name that names no port.
    virtual std::string missing_port() = 0;
    // The system's text for a failure, as h2mon prints it after its own words
    // (including the line end the text brings).
    virtual std::string system_text(SystemError error) = 0;

    virtual bool can(Capability capability) const = 0;
    virtual bool can_send(StopEvent event) const = 0;

    // The text of a file h2mon wrote (the log file), with "\n" line ends.
    virtual std::string text_file(const std::string& path) = 0;

    // Starts h2mon with `args` (argv[1] on). Null, with the reason in `error`,
    // when it cannot be started.
    virtual std::unique_ptr<H2mon> start(const std::vector<std::string>& args, Input input,
                                         Output output, std::string& error) = 0;
};

// The launcher this test executable was built with.
Launcher& launcher();

} // namespace e2e
