// h2mon as a child process of the test, in a session of its own (so it has no
// controlling terminal unless given one, and a developer's Ctrl-C does not reach
// it), with its standard output and error on pipes to the test. Any launcher that
// runs h2mon as a local process (directly, or through a runner such as wine) can
// use it.
#pragma once

#include "tests/e2e/launcher.h"
#include "tests/support/process.h"
#include "tests/support/pseudo_terminal.h"

#include <memory>

namespace e2e {

class ChildH2mon : public H2mon {
public:
    ChildH2mon() = default;
    ChildH2mon(const ChildH2mon&) = delete;
    ChildH2mon& operator=(const ChildH2mon&) = delete;
    ~ChildH2mon() override;

    // Runs `argv` (argv[0] a path) with `extra_env` ("NAME=value") added to the
    // environment. False, with the reason in `error`, when it cannot start.
    // Output::Console puts standard output on a pseudo-terminal of its own.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
               Input input, Output output, std::string& error);

    const std::string& output() const override { return process_.stdout_text(); }
    bool wait_for_output(const std::function<bool(const std::string&)>& done,
                         milliseconds timeout) override;
    const std::string& error_output() override;
    bool press_key(char key) override;
    // The stop signals; no Windows event.
    bool send(StopEvent event) override;
    bool signal(int number) { return process_.signal(number); }
    void close_output() override;
    bool wait_exit(int& code, milliseconds timeout) override;
    bool running() override { return process_.running(); }
    double cpu_seconds() override;
    const std::string& console_output() override;
    bool hold_console(bool hold) override;
    int terminal_master() const override { return terminal_master_; }
    const termios& terminal_settings_at_start() const override { return terminal_at_start_; }

private:
    // Input::Terminal: a pseudo-terminal for h2mon's console.
    bool open_terminal(std::string& error);

    h2test::ChildProcess process_;
    std::unique_ptr<PseudoTerminal> console_; // Output::Console
    std::string console_text_;
    int terminal_master_ = -1; // Input::Terminal
    int terminal_slave_ = -1;  // held open: a pseudo-terminal's settings reset on its last close
    std::string terminal_path_;
    termios terminal_at_start_{};
};

} // namespace e2e
