// h2sim: a simulated hydrogen maser on a pseudo-terminal, for h2mon to poll.
#include "h2sim/frame_file.h"
#include "h2sim/options.h"
#include "h2sim/simulator.h"
#include "h2sim/stop_signals.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kExitLineFailed = 1;
constexpr int kExitBadUse = 2;

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
        return 0;
    case ParseOutcome::Error:
        return fail(kExitBadUse, error + "\nTry 'h2sim --help'.");
    case ParseOutcome::Run:
        break;
    }

    std::vector<Frame> file_frames;
    if (!options.frames_path.empty() && !load_frame_file(options.frames_path, file_frames, error)) {
        return fail(kExitBadUse, error);
    }
    ExchangeLog log;
    if (!options.log_path.empty() && !log.open(options.log_path, error)) {
        return fail(kExitBadUse, error);
    }
    if (options.log_times) {
        log.add_times();
    }
    // A reader of standard error that went away must not end the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    const int stop_fd = open_stop_signals(error);
    if (stop_fd < 0) {
        return fail(kExitLineFailed, error);
    }
    SimulatorLine line;
    if (!line.open(error)) {
        return fail(kExitLineFailed, error);
    }
    SlaveLink link;
    if (!options.link_path.empty() && !link.create(options.link_path, line.slave_path(), error)) {
        return fail(kExitBadUse, error);
    }

    std::printf("%s\n", line.slave_path().c_str());
    std::fflush(stdout);

    Simulator simulator(options, std::move(file_frames), line, log);
    const int code = simulator.run(stop_fd);
    line.close();
    close(stop_fd);
    return code;
}
