#include "h2export/textfile.h"

#include "program/atomic_file.h"
#include "program/version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

void append_family_head(std::string& out, const char* name, const char* help, const char* type) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void append_maser_sample(std::string& out, const char* name, const std::string& maser,
                         const std::string& value) {
    out += name;
    out += "{maser=\"";
    out += maser;
    out += "\"} ";
    out += value;
    out += '\n';
}

std::string number_text(double value, bool whole) {
    std::string text;
    append_sample_value(text, value, whole);
    return text;
}

void append_channel_families(std::string& out, const MaserStatus& maser) {
    for (int f = 0; f < kMetricFamilyCount; ++f) {
        const MetricFamily& family = kMetricFamilies[f];
        append_family_head(out, family.name, family.help, "gauge");
        for (int m = 0; m < kChannelMetricCount; ++m) {
            if (kChannelMetrics[m].family != f) {
                continue;
            }
            out += family.name;
            append_labels(out, maser.name(), kChannelMetrics[m]);
            out += ' ';
            append_sample_value(out, maser.values()[m], channel_metric_is_code(m));
            out += '\n';
        }
    }
}

} // namespace

std::string render_textfile(const MaserStatus& maser, SteadyClock::time_point now) {
    std::string out;
    out.reserve(6000);
    append_family_head(out, "h2export_build_info",
                       "The h2export that writes this file; the value is always 1.", "gauge");
    out += "h2export_build_info{maser=\"" + maser.name() + "\",version=\"" + kProjectVersion +
           "\"} 1\n";

    const bool up = maser.up(now);
    append_family_head(out, "maser_up",
                       "1 while records arrive from the maser's log, 0 once none came for the "
                       "stale time.",
                       "gauge");
    append_maser_sample(out, "maser_up", maser.name(), up ? "1" : "0");

    if (maser.has_record()) {
        append_family_head(out, "maser_last_record_timestamp_seconds",
                           "Time of the latest record in the maser's log, from its MJD.", "gauge");
        append_maser_sample(out, "maser_last_record_timestamp_seconds", maser.name(),
                            number_text(static_cast<double>(maser.last_unix_ns()) / 1e9, false));
    }

    append_family_head(out, "maser_log_malformed_lines_total",
                       "Lines of the maser's log that were skipped as malformed.", "counter");
    append_maser_sample(out, "maser_log_malformed_lines_total", maser.name(),
                        number_text(static_cast<double>(maser.malformed()), true));

    if (up) {
        append_channel_families(out, maser);
    }
    return out;
}

std::string textfile_name(const std::string& maser) {
    return "h2mon-" + maser + ".prom";
}

bool TextfileFolder::missing_now() {
    std::error_code failure;
    const bool missing = !std::filesystem::is_directory(dir_, failure);
    if (missing != missing_) {
        missing_ = missing;
        std::fprintf(stderr,
                     missing ? "h2export: --textfile: %s is no folder; waiting for it (the other "
                               "outputs go on)\n"
                             : "h2export: --textfile: %s is there: writing the masers' files\n",
                     dir_.c_str());
    }
    return missing_;
}

bool TextfileFolder::check_at_start() {
    if (missing_now()) {
        return true;
    }
    // A file of h2export's own, written and removed.
    const std::string probe = dir_ + "/.h2mon-export-start.tmp";
    std::FILE* file = std::fopen(probe.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "h2export: --textfile: %s: %s\n", probe.c_str(), std::strerror(errno));
        return false;
    }
    std::fclose(file);
    std::remove(probe.c_str());
    return true;
}

bool TextfileFolder::look_again() {
    return !missing_now();
}

bool TextfileFolder::write(const std::string& maser, const std::string& text) {
    if (missing_ && missing_now()) {
        return false;
    }
    const std::string name = textfile_name(maser);
    std::string error;
    const bool ok =
        replace_file(dir_ + "/" + name, text, false, error, dir_ + "/." + name + ".tmp");
    if (!ok && missing_now()) {
        return false;
    }
    if (ok == failing_) {
        failing_ = !ok;
        std::fprintf(stderr, ok ? "h2export: textfiles are written again\n" : "h2export: %s\n",
                     error.c_str());
    }
    return ok;
}
