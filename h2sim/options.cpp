#include "h2sim/options.h"

#include "telemetry/time_text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace {

enum OptionId {
    kHelp = 'h',
    kSeed = 256,
    kVersion,
    kFrames,
    kBaud,
    kLink,
    kLog,
    kLogTimes,
    kCloseAfter,
    kChaos,
    kScenario,
    kTimeScale,
    kLate,
    kGaps,
    kShort,
    kSilent,
    kCorrupt,
    kStray,
    kNoise,
    kHoldBack,
    kWriteLog,
    kStart,
    kSpan,
    kInterval,
    kHeader,
    kJitter,
};

const option kLongOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"seed", required_argument, nullptr, kSeed},
    {"frames", required_argument, nullptr, kFrames},
    {"baud", required_argument, nullptr, kBaud},
    {"link", required_argument, nullptr, kLink},
    {"log", required_argument, nullptr, kLog},
    {"log-times", no_argument, nullptr, kLogTimes},
    {"close-after", required_argument, nullptr, kCloseAfter},
    {"chaos", required_argument, nullptr, kChaos},
    {"scenario", required_argument, nullptr, kScenario},
    {"time-scale", required_argument, nullptr, kTimeScale},
    {"late", required_argument, nullptr, kLate},
    {"gaps", required_argument, nullptr, kGaps},
    {"short", required_argument, nullptr, kShort},
    {"silent", optional_argument, nullptr, kSilent},
    {"corrupt", required_argument, nullptr, kCorrupt},
    {"stray", required_argument, nullptr, kStray},
    {"noise", required_argument, nullptr, kNoise},
    {"hold-back", required_argument, nullptr, kHoldBack},
    {"write-log", required_argument, nullptr, kWriteLog},
    {"start", required_argument, nullptr, kStart},
    {"span", required_argument, nullptr, kSpan},
    {"interval", required_argument, nullptr, kInterval},
    {"header", no_argument, nullptr, kHeader},
    {"jitter", required_argument, nullptr, kJitter},
    {nullptr, 0, nullptr, 0},
};

bool parse_unsigned(const char* text, std::uint64_t lo, std::uint64_t hi, std::uint64_t& value) {
    if (*text < '0' || *text > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    value = parsed;
    return errno == 0 && *end == '\0' && parsed >= lo && parsed <= hi;
}

// A decimal number, all of the text, within lo..hi (lo itself allowed or not).
bool parse_real(const char* text, double lo, bool lo_allowed, double hi, double& value) {
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' &&
           (value > lo || (lo_allowed && value == lo)) && value <= hi;
}

// A story runs at most a billion times faster than the clock: a year in a
// thirtieth of a second is already more than any use needs.
constexpr double kFastestTimeScale = 1e9;

const struct {
    int id;
    FaultKind kind;
} FAULT_OPTIONS[] = {
    {kLate, FaultKind::Late},     {kGaps, FaultKind::Gaps},         {kShort, FaultKind::Short},
    {kSilent, FaultKind::Silent}, {kCorrupt, FaultKind::Corrupt},   {kStray, FaultKind::Stray},
    {kNoise, FaultKind::Noise},   {kHoldBack, FaultKind::HoldBack},
};

bool fault_kind(int id, FaultKind& kind) {
    for (const auto& option : FAULT_OPTIONS) {
        if (option.id == id) {
            kind = option.kind;
            return true;
        }
    }
    return false;
}

// Applies one option with its argument (null when it has none).
bool apply_option(int id, const char* argument, Options& options, std::string& error) {
    const std::string text = argument != nullptr ? argument : "";
    std::uint64_t number = 0;
    FaultKind kind{};
    if (fault_kind(id, kind)) {
        FaultRule rule{kind};
        if (!parse_fault_rule(kind, text, rule, error)) {
            return false;
        }
        options.faults.push_back(rule);
        return true;
    }
    switch (id) {
    case kSeed:
        if (!parse_unsigned(argument, 0, UINT64_MAX, options.seed)) {
            error = "'" + text + "': expected a whole number";
            return false;
        }
        return true;
    case kBaud:
        if (!parse_unsigned(argument, 1, 4000000, number)) {
            error = "'" + text + "': expected a rate of 1 to 4000000 baud";
            return false;
        }
        options.baud = static_cast<long>(number);
        return true;
    case kCloseAfter:
        if (!parse_unsigned(argument, 1, UINT64_MAX, options.close_after)) {
            error = "'" + text + "': expected a number of polls of at least 1";
            return false;
        }
        return true;
    case kChaos:
        if (!parse_real(argument, 0.0, true, 1.0, options.chaos)) {
            error = "'" + text + "': expected a probability from 0 to 1";
            return false;
        }
        return true;
    case kScenario:
        options.scenario = scenario_named(text);
        if (options.scenario == nullptr) {
            error = "'" + text + "': expected one of " + scenario_names();
            return false;
        }
        return true;
    case kTimeScale:
        if (!parse_real(argument, 0.0, false, kFastestTimeScale, options.time_scale)) {
            error = "'" + text + "': expected a number of story seconds per second, above 0";
            return false;
        }
        return true;
    case kFrames:
        options.frames_path = text;
        return true;
    case kStart: {
        const std::optional<MicroDay> start = parse_time(text);
        if (!start) {
            error = "'" + text + "': expected an MJD or a UTC date or date-time (2026-12-10T13:45)";
            return false;
        }
        options.start_mjd = static_cast<double>(*start) / kMicroDaysPerDay;
        return true;
    }
    case kSpan:
    case kInterval: {
        const std::optional<double> seconds = parse_duration_seconds(text);
        if (!seconds) {
            error = "'" + text + "': expected a whole number and s, min, h, d or w, as 10s or 28d";
            return false;
        }
        (id == kSpan ? options.span_seconds : options.interval_seconds) = *seconds;
        return true;
    }
    case kJitter:
        if (!parse_real(argument, 0.0, true, 100.0, options.jitter)) {
            error = "'" + text + "': expected a factor of the model's noise from 0 to 100";
            return false;
        }
        return true;
    case kWriteLog:
        options.write_log = text;
        return true;
    case kHeader:
        options.header = true;
        return true;
    case kLink:
        options.link_path = text;
        return true;
    case kLog:
        options.log_path = text;
        return true;
    case kLogTimes:
        options.log_times = true;
        return true;
    default:
        return false;
    }
}

// Options that only the simulated line takes, and those that only --write-log
// takes: each given one is noted, so that a mix is refused by name.
void note_kind(int id, const char* name, Options& options) {
    static const int kLineOnly[] = {kFrames,     kBaud,    kLink,  kLog,   kLogTimes,
                                    kCloseAfter, kChaos,   kLate,  kGaps,  kShort,
                                    kSilent,     kCorrupt, kStray, kNoise, kTimeScale};
    static const int kLogOnly[] = {kStart, kSpan, kInterval, kHeader, kJitter};
    for (int line_only : kLineOnly) {
        if (id == line_only) {
            options.line_options.push_back(name);
        }
    }
    for (int log_only : kLogOnly) {
        if (id == log_only) {
            options.log_options.push_back(name);
        }
    }
}

} // namespace

ParseOutcome parse_options(int argc, char** argv, Options& options, std::string& error) {
    optind = 0; // start afresh, also when called more than once
    opterr = 0; // the errors are reported by the caller, in its own words
    int id = 0;
    int index = 0;
    while ((id = getopt_long(argc, argv, ":h", kLongOptions, &index)) != -1) {
        if (id == kHelp) {
            return ParseOutcome::Help;
        }
        if (id == kVersion) {
            return ParseOutcome::Version;
        }
        if (id == '?' || id == ':') {
            const std::string option = argv[optind - 1];
            error = (id == '?' ? "unknown option '" : "missing value for '") + option + "'";
            return ParseOutcome::Error;
        }
        if (!apply_option(id, optarg, options, error)) {
            error = std::string("--") + kLongOptions[index].name + ": " + error;
            return ParseOutcome::Error;
        }
        note_kind(id, kLongOptions[index].name, options);
    }
    if (optind < argc) {
        error = std::string("unexpected argument '") + argv[optind] + "'";
        return ParseOutcome::Error;
    }
    if (options.scenario != nullptr && !options.frames_path.empty()) {
        error = "--scenario plays on the simulated telemetry, not on --frames";
        return ParseOutcome::Error;
    }
    if (!options.write_log.empty() && !options.line_options.empty()) {
        error = "--write-log makes no line: --" + options.line_options.front() +
                " is for the simulated line";
        return ParseOutcome::Error;
    }
    if (options.write_log.empty() && !options.log_options.empty()) {
        error = "--" + options.log_options.front() + " goes with --write-log";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

std::string usage_text() {
    std::string text = R"(Usage: h2sim [OPTION]...
Stands in for a hydrogen maser on a pseudo-terminal, for h2mon to poll.

Prints the path of the line (the port to give h2mon) as its first line on
standard output, then answers every poll (01 41 00 00 00) with a 189-byte
telemetry frame. Anything else that arrives is reported on standard error, in
hexadecimal. Runs until interrupted (SIGINT or SIGTERM) or --close-after.

Line and frames:
  --seed N             the maser (its own levels) and the seed of its
                       telemetry and of --chaos (default 1); the same seed
                       gives the same frames
  --frames FILE        play frames from FILE, cycling: one frame per line as
                       hexadecimal digits, '#' starts a comment; a line of
                       other than 189 bytes is sent as it stands
  --baud B             pace the line as a real one at B baud (10 bits a byte);
                       without it, each answer goes out at once
  --link PATH          also make PATH a symbolic link to the line (removed at
                       exit)
  --log FILE           log every exchange to FILE, one line per poll:
                       POLL ACTIONS SENT clean|dirty FRAME-HEX
  --log-times          end each line of the log with when the poll's first
                       byte arrived and when the answer's first and last
                       bytes went out (nanoseconds of CLOCK_MONOTONIC)
  --close-after N      after answering the Nth poll, close the line and exit

Health scenarios:
  --scenario NAME      play a story of a maser going wrong on one channel of
                       the simulated telemetry; the story starts with h2sim
  --time-scale X       story seconds per second (default 1): 86400 plays a
                       day in a second, three weeks in 21 seconds

Simulated weeks: a log written at once, with no line:
  --write-log FILE     write the rows h2mon's /out would have appended (FILE,
                       or - for standard output), at simulated time, for the
                       scenario (default: the quiet maser)
  --start TIME         the first record's time: an MJD or a UTC date or
                       date-time (default: the span up to now)
  --span SPAN          how long the log runs: 28d (default), 2w, 12h, ...
  --interval SPAN      from one record to the next: 10s (default), 1min, ...
  --header             start with h2mon's CSV header line
  --jitter X           times the model's noise (default 1; 0: none)

Faults. Each applies to every answer, or with @N to every Nth (polls N, 2N, ...);
several may be given and apply together:
  --late MS[@N]        start the answer MS milliseconds late
  --gaps CHUNK:MS[@N]  send the answer in chunks of CHUNK bytes, MS ms apart
  --short BYTES[@N]    send only the first BYTES bytes (0 to 188)
  --silent[=N]         answer nothing (to every poll, or every Nth)
  --corrupt BYTES[@N]  change BYTES bytes of the frame at random places
  --stray BYTES[@N]    send BYTES random bytes right after the answer
  --noise BYTES[@N]    send BYTES random bytes 100 ms after the answer, where
                       they lie in the line until the next poll is read
  --hold-back MS[@N]   pass the bytes through a USB adapter whose latency
                       timer is MS ms (an FTDI chip's is 16 by default): it
                       hands over what it holds when it holds 62 bytes, or
                       when the timer, restarted at each handover, expires
  --chaos PROB         give each answer, with probability PROB (0 to 1), one
                       more fault of a random kind with random values

  -h, --help           show this text and exit
      --version        show the version and exit

Exit status: 0 when stopped or after --close-after, 1 when the line cannot be
made or fails or the log cannot be written, 2 on a bad command line.

Scenarios:
)";
    for (const Scenario& scenario : scenarios()) {
        text += "  " + std::string(scenario.name) +
                std::string(16 - std::strlen(scenario.name), ' ') + scenario.summary + "\n";
    }
    return text;
}
