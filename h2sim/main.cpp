// h2sim: a simulated hydrogen maser on a pseudo-terminal, for h2mon to poll,
// or the log it would have made over simulated days and weeks.
#include "h2sim/frame_file.h"
#include "h2sim/options.h"
#include "h2sim/simulator.h"
#include "h2sim/write_log.h"
#include "program/exit_code.h"
#include "program/stop_signals.h"
#include "program/version.h"

#include <csignal>
#include <cstdio>

namespace {

int fail(int code, const std::string& message) {
    std::fprintf(stderr, "h2sim: %s\n", message.c_str());
    return code;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    switch (parse_options(argc, argv, options, error)) {
    case ParseOutcome::Help:
        std::fputs(usage_text().c_str(), stdout);
        return kExitDone;
    case ParseOutcome::Version:
        std::printf("%s\n", version_line("h2sim").c_str());
        return kExitDone;
    case ParseOutcome::Error:
        return fail(kExitUsage, error + "\nTry 'h2sim --help'.");
    case ParseOutcome::Run:
        break;
    }
    if (!options.write_log.empty()) {
        // A reader that stops reading ends the writing quietly, as for `head`.
        std::signal(SIGPIPE, SIG_DFL);
        return write_simulated_log(options, error) ? kExitDone : fail(kExitFailed, error);
    }

    std::vector<Frame> file_frames;
    if (!options.frames_path.empty() && !load_frame_file(options.frames_path, file_frames, error)) {
        return fail(kExitUsage, error);
    }
    ExchangeLog log;
    if (!options.log_path.empty() && !log.open(options.log_path, error)) {
        return fail(kExitUsage, error);
    }
    if (options.log_times) {
        log.add_times();
    }
    // A reader of standard error that went away must not end the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    const StopSignals stops;
    if (!stops.ok(error)) {
        return fail(kExitFailed, error);
    }
    SimulatorLine line;
    if (!line.open(error)) {
        return fail(kExitFailed, error);
    }
    SlaveLink link;
    if (!options.link_path.empty() && !link.create(options.link_path, line.slave_path(), error)) {
        return fail(kExitUsage, error);
    }

    std::printf("%s\n", line.slave_path().c_str());
    std::fflush(stdout);

    Simulator simulator(options, std::move(file_frames), line, log);
    const int code = simulator.run(stops.fd());
    line.close();
    return code;
}
