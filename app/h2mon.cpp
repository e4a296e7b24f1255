// h2mon: records the housekeeping telemetry of a hydrogen maser over a serial
// line, one record per telemetry frame, until a key is pressed.
#include "app/csv_output.h"
#include "app/loop.h"
#include "app/usage_text.h"
#include "common/stdtpl.h"
#include "platform/log_file.h"
#include "platform/session.h"

#include <cstdio>
#include <cstdlib>

// The program-wide objects, constructed in this order before main runs and
// destroyed in the reverse order at exit: the settings store, its six options
// bound to the variables below, then the port.
KVSTORE<KVAL> settings;

char port_setting[1024] = "";
int baud = 9600;
int interval_ms = 10000;
bool tty = false; // written by the parser; console mode asks whether /tty was given
char fmt[1024] = "CSV";
char out[1024] = "";

namespace {

bool register_options() {
    settings.addstr("port", port_setting, nullptr, 0, KVF_REQUIRED);
    settings.addnum("baud", &baud, nullptr, 0, 0);
    settings.addnum("interval_ms", &interval_ms, nullptr, 0, 0);
    settings.addbool("tty", &tty, nullptr, 0, 0);
    settings.addstr("fmt", fmt, nullptr, 0, 0);
    settings.addstr("out", out, nullptr, 0, 0);
    return true;
}

[[maybe_unused]] const bool options_registered = register_options();

} // namespace

COMPORT port;

namespace {

void close_port() {
    port.close();
}

} // namespace

int main(int argc, char** argv) {
    if (!settings.parse(argc, argv, USAGE_TEXT, 0, 0, false)) {
        return 1;
    }
    // A negative interval would reach the sleep as an endless wait.
    if (interval_ms < 0) {
        std::printf("Error: reading interval must not be negative (%d)\n", interval_ms);
        return 1;
    }
    if (port.open(port_setting, static_cast<DWORD>(baud), true, true, 8) != 0) {
        std::printf("Error connecting to %s: %s", port_setting, port.errortext(0, false));
        return 1;
    }
    std::atexit(close_port);

    LOOP_SETTINGS loop{port_setting, OUTPUT_FORM::CSV, interval_ms, RECORD_OUTPUT{}};
    if (!output_form_from_name(fmt, &loop.form)) {
        std::printf("Error: unsupported format (%s)\n", fmt);
        return 1;
    }
    if (loop.form == OUTPUT_FORM::CSV) {
        print_csv_header(stdout);
    }
    if (out[0] != '\0') {
        loop.output.log = open_shared_log(out); // a log that cannot be opened is no error
    }
    loop.output.console_mode = settings.given("tty");
    console_session_begin();
    return acquisition_loop(port, loop);
}
