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

// "name{maser="NAME"} ": a sample up to its value.
std::string maser_series(const char* name, const std::string& maser) {
    return std::string(name) + "{maser=\"" + maser + "\"} ";
}

// The heads of the families, the same in every maser's file: made once.
struct FamilyHeads {
    std::string build_info, up, last_time, malformed;
    std::string channels[kMetricFamilyCount];
    // The channel metrics in the order of their families, as the file lists them.
    std::vector<int> order;

    FamilyHeads() {
        append_family_head(build_info, "h2export_build_info",
                           "The h2export that writes this file; the value is always 1.", "gauge");
        append_family_head(up, "maser_up",
                           "1 while records arrive from the maser's log, 0 once none came for "
                           "the stale time.",
                           "gauge");
        append_family_head(last_time, "maser_last_record_timestamp_seconds",
                           "Time of the latest record in the maser's log, from its MJD.", "gauge");
        append_family_head(malformed, "maser_log_malformed_lines_total",
                           "Lines of the maser's log that were skipped as malformed.", "counter");
        for (int f = 0; f < kMetricFamilyCount; ++f) {
            append_family_head(channels[f], kMetricFamilies[f].name, kMetricFamilies[f].help,
                               "gauge");
            for (int m = 0; m < kChannelMetricCount; ++m) {
                if (kChannelMetrics[m].family == f) {
                    order.push_back(m);
                }
            }
        }
    }
};

const FamilyHeads& family_heads() {
    static const FamilyHeads heads;
    return heads;
}

} // namespace

TextfileText::TextfileText(const std::string& maser)
    : build_info_("h2export_build_info{maser=\"" + maser + "\",version=\"" + kProjectVersion +
                  "\"} 1\n"),
      up_(maser_series("maser_up", maser)),
      last_time_(maser_series("maser_last_record_timestamp_seconds", maser)),
      malformed_(maser_series("maser_log_malformed_lines_total", maser)) {
    for (const int m : family_heads().order) {
        std::string series = kMetricFamilies[kChannelMetrics[m].family].name;
        append_labels(series, maser, kChannelMetrics[m]);
        series += ' ';
        channels_.push_back(std::move(series));
    }
}

void TextfileText::render(const MaserStatus& maser, SteadyClock::time_point now,
                          std::string& text) const {
    const FamilyHeads& heads = family_heads();
    const bool up = maser.up(now);
    text = heads.build_info;
    text += build_info_;
    text += heads.up;
    text += up_;
    text += up ? "1\n" : "0\n";
    if (maser.has_record()) {
        text += heads.last_time;
        text += last_time_;
        append_sample_value(text, static_cast<double>(maser.last_unix_ns()) / 1e9, false);
        text += '\n';
    }
    text += heads.malformed;
    text += malformed_;
    append_sample_value(text, static_cast<double>(maser.malformed()), true);
    text += '\n';
    if (!up) {
        return;
    }
    int family = -1;
    for (std::size_t i = 0; i < heads.order.size(); ++i) {
        const int metric = heads.order[i];
        if (kChannelMetrics[metric].family != family) {
            family = kChannelMetrics[metric].family;
            text += heads.channels[family];
        }
        text += channels_[i];
        append_sample_value(text, maser.values()[metric], channel_metric_is_code(metric));
        text += '\n';
    }
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
