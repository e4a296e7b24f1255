// h2mon: records the housekeeping telemetry of a hydrogen maser over a serial
// line, one record per telemetry frame, until a key is pressed.
#include "h2mon/console_writer.h"
#include "h2mon/csv_output.h"
#include "h2mon/failure_message.h"
#include "h2mon/loop.h"
#include "h2mon/settings.h"
#include "h2mon/usage_text.h"
#include "h2mon/io/console_session.h"
#include "h2mon/io/console_stream.h"
#include "h2mon/io/log_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

// The program-wide objects, constructed in this order before main runs and
// destroyed in the reverse order at exit: the settings store, its six options
// bound to the settings, then the port.
KVSTORE<KVAL> store;
Settings settings;
[[maybe_unused]] const bool options_registered = register_settings(store, settings);
COMPORT port;

namespace {

void close_port() {
    port.close();
}

// How long the end of a run waits for a console to take what waits for it.
constexpr std::chrono::milliseconds kConsoleFinishWait(1000);

} // namespace

int main(int argc, char** argv) {
    if (!store.parse(argc, argv, kUsageText, 0, 0, false)) {
        return 1;
    }
    if (const char* name = setting_not_a_number(store)) {
        std::printf("Error: %s is not a whole number (%s)\n", name, store.find(name)->value());
        return 1;
    }
    if (const char* name = setting_out_of_range(store)) {
        std::printf("Error: %s out of range (%s)\n", name, store.find(name)->value());
        return 1;
    }
    // A negative interval would reach the sleep as an endless wait.
    if (settings.interval_ms < 0) {
        std::printf("Error: reading interval must not be negative (%d)\n", settings.interval_ms);
        return 1;
    }
    // From here on a stop request is held until the run can end in order, the
    // port put back: one that comes while the port is opened ends the run
    // before its first poll. (Before this, the system's default ends the
    // program; nothing needs putting back then.)
    console_session_begin();
    if (port.open(settings.port, static_cast<DWORD>(settings.baud), true, true, 8) != 0) {
        print_port_failure("Error connecting to", settings.port, port);
        return 1;
    }
    std::atexit(close_port);

    LoopSettings loop{settings.port, OutputForm::kCsv, settings.interval_ms, RecordOutput{}};
    if (!output_form_from_name(settings.fmt, &loop.form)) {
        std::printf("Error: unsupported format (%s)\n", settings.fmt);
        return 1;
    }
    // What goes to a console is written by a thread of its own: a console that
    // holds its output (Ctrl+S, Pause, a selection) then holds neither the polls
    // nor the log.
    const bool out_is_console = stream_is_console(stdout);
    const bool err_is_console = stream_is_console(stderr);
    std::unique_ptr<ConsoleWriter> console;
    if (out_is_console || err_is_console) {
        console = std::make_unique<ConsoleWriter>(standard_console_sink());
    }
    loop.output.console = out_is_console ? console.get() : nullptr;
    loop.output.stops = session_stop_signals();
    loop.notices =
        NoticeStream(stderr, err_is_console ? console.get() : nullptr, session_stop_signals());
    if (loop.form == OutputForm::kCsv) {
        print_text(csv_header_line(), loop.output);
    }
    // A log that cannot be opened or written is no error: the records still go
    // to standard output, and standard error says why the log gets none.
    LogHealth log_health(settings.out, loop.notices);
    LogFile log(settings.out);
    if (settings.out[0] != '\0') {
        if (const int error = log.open()) {
            log_health.open_failed(error);
        } else {
            loop.output.log = &log;
            loop.output.log_health = &log_health;
        }
    }
    loop.output.console_mode = store.given("tty");
    loop.output.escape_sequences = escape_sequences_shown();
    const int exit_code = acquisition_loop(port, loop);
    if (console != nullptr) {
        // What a console still holds back is left to it; the log has every row.
        console->finish(kConsoleFinishWait);
    }
    return exit_code;
}
