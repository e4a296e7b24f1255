#include "h2export/options.h"

#include "program/command_line.h"

#include <cmath>
#include <set>

namespace {

constexpr const char* kDescription =
    "Follows h2mon's CSV logs and hands the masers' telemetry to monitoring: files for "
    "node_exporter's textfile collector, InfluxDB line protocol, or (with --backfill) whole "
    "logs as OpenMetrics for promtool.";

std::string check_follow(const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals + 1 == text.size()) {
        return "expected NAME=PATH, got '" + text + "'";
    }
    if (!valid_maser_name(text.substr(0, equals))) {
        return "the name in '" + text +
               "' must be letters, digits, '_', '-' or '.' (not starting with '.')";
    }
    return "";
}

// Rules that concern several options at once; throws CLI::ValidationError.
void check_combination(const ExportOptions& options) {
    std::set<std::string> names;
    int standard_input = 0;
    for (const FollowTarget& follow : options.follows) {
        // Backfill takes several files of one maser (its log and the rotated ones).
        if (!names.insert(follow.name).second && !options.backfill) {
            throw CLI::ValidationError("--follow", "the name '" + follow.name + "' is given twice");
        }
        standard_input += follow.path == "-" ? 1 : 0;
    }
    if (standard_input > 0 && (!options.backfill || standard_input > 1)) {
        throw CLI::ValidationError("--follow", "- (standard input) is one log for --backfill only");
    }
    if (options.follows.empty() && options.follow_dirs.empty()) {
        throw CLI::ValidationError("--follow", "give --follow NAME=PATH or --follow-dir DIR");
    }
    if (options.backfill) {
        if (!options.follow_dirs.empty()) {
            throw CLI::ValidationError("--follow-dir",
                                       "follows a folder as it changes; --backfill takes its "
                                       "logs as --follow NAME=PATH");
        }
        if (!options.textfile_dir.empty() || !options.influx.empty()) {
            throw CLI::ValidationError("--backfill",
                                       "writes OpenMetrics to standard output; it takes no "
                                       "--textfile or --influx");
        }
        return;
    }
    if (options.textfile_dir.empty() && options.influx.empty()) {
        throw CLI::ValidationError("--textfile", "give --textfile DIR, --influx FILE|- or both "
                                                 "(or --backfill)");
    }
    if (options.influx.empty() && !options.state.empty()) {
        throw CLI::ValidationError("--state", "keeps the positions of --influx; give --influx too");
    }
    if (options.influx == "-" && options.state.empty()) {
        throw CLI::ValidationError("--state", "--influx - (standard output) has no default state "
                                              "file; give --state FILE to resume from");
    }
}

} // namespace

bool valid_maser_name(const std::string& name) {
    if (name.empty() || name[0] == '.') {
        return false;
    }
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::optional<int> parse_options(int argc, const char* const* argv, ExportOptions& options,
                                 std::ostream& out, std::ostream& err) {
    CLI::App app(kDescription);
    set_up_command_line(app, "h2export");
    std::vector<std::string> follows;
    app.add_option("--follow", follows, "A maser and its log (repeatable): NAME=PATH")
        ->type_name("NAME=PATH")
        ->check(CLI::Validator(check_follow, "NAME=PATH"));
    app.add_option("--follow-dir", options.follow_dirs,
                   "Every log NAME.csv in this directory, a maser each, named NAME; logs that "
                   "appear later are followed too (repeatable; rotated NAME.csv.1 are not masers)")
        ->type_name("DIR");
    app.add_option("--textfile", options.textfile_dir,
                   "Keep h2mon-NAME.prom for each maser in this directory (node_exporter's "
                   "textfile collector); a directory not there yet is waited for")
        ->type_name("DIR")
        ->check(CLI::Validator(
            [](const std::string& path) {
                return CLI::NonexistentPath(path).empty() || CLI::ExistingDirectory(path).empty()
                           ? std::string()
                           : "'" + path + "' is not a directory";
            },
            "DIR"));
    app.add_option("--influx", options.influx,
                   "Append InfluxDB line protocol, one point per record, to FILE or - "
                   "(standard output)")
        ->type_name("FILE|-")
        ->check(CLI::Validator(
            [](const std::string& path) {
                return CLI::ExistingDirectory(path).empty()
                           ? "'" + path +
                                 "' is a directory; give a file (or - for standard "
                                 "output)"
                           : std::string();
            },
            "FILE|-"));
    app.add_option("--state", options.state,
                   "Where the line protocol's read positions are kept (default FILE.state; "
                   "required with --influx -)")
        ->type_name("FILE");
    app.add_option("--stale-after", options.stale_after_seconds,
                   "Seconds without records after which maser_up is 0 (default: 3 times the "
                   "log's interval, at least 30)")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](const std::string& text) {
                return CLI::Number(text).empty() ? std::string()
                                                 : "'" + text + "' is not a number of seconds";
            },
            "SECONDS"))
        ->check(CLI::Range(0.001, 1e7));
    app.add_flag("--backfill", options.backfill,
                 "Write the whole logs as OpenMetrics with timestamps to standard output, then "
                 "end");
    return parse_command_line(app, argc, argv, out, err, [&] {
        for (const std::string& follow : follows) {
            const std::size_t equals = follow.find('=');
            options.follows.push_back({follow.substr(0, equals), follow.substr(equals + 1)});
        }
        if (options.state.empty() && !options.influx.empty() && options.influx != "-") {
            options.state = options.influx + ".state";
        }
        check_combination(options);
    });
}
