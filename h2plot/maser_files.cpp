#include "h2plot/maser_files.h"

#include <filesystem>
#include <system_error>

namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

// Where the file name begins: after the last separator of either system, so
// that a Windows path reads the same on every build.
std::size_t name_start(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? 0 : separator + 1;
}

// NAME of NAME.csv, NAME.csv.1, NAME.csv.2.gz or NAME.csv-20261210; empty otherwise.
std::string log_name(const std::string& path) {
    const std::string file = path.substr(name_start(path));
    const std::string low = lower(file);
    for (std::size_t at = low.find(".csv"); at != std::string::npos;
         at = low.find(".csv", at + 1)) {
        const std::size_t after = at + 4;
        if (after == low.size() || low[after] == '.' || low[after] == '-') {
            return file.substr(0, at);
        }
    }
    return {};
}

bool is_file(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

} // namespace

std::string maser_of_logs(const std::vector<std::string>& logs) {
    std::string maser;
    for (const std::string& log : logs) {
        if (log == "-") {
            continue;
        }
        const std::string name = log_name(log);
        if (name.empty() || (!maser.empty() && name != maser)) {
            return {};
        }
        maser = name;
    }
    return maser;
}

std::string logbook_beside(const std::vector<std::string>& logs, const std::string& maser) {
    if (maser.empty()) {
        return {};
    }
    for (const std::string& log : logs) {
        if (log != "-") {
            return log.substr(0, name_start(log)) + maser + ".logbook";
        }
    }
    return {};
}

MaserFiles read_maser_files(const std::string& limits_dir, const std::string& maser,
                            const std::string& logbook) {
    MaserFiles files;
    if (!limits_dir.empty()) {
        files.limits = maser_limits(limits_dir, maser, files.errors);
        // The files maser_limits() read over the built-in table, for the page to name.
        std::vector<std::string> names = {"limits.conf"};
        if (!maser.empty()) {
            names.push_back(maser + ".limits");
        }
        for (const std::string& name : names) {
            const std::string path = (std::filesystem::path(limits_dir) / name).string();
            if (is_file(path)) {
                files.limit_files.push_back(path);
            }
        }
    }
    files.logbook_path = logbook;
    if (!logbook.empty()) {
        files.logbook_found = is_file(logbook);
        files.logbook = read_logbook_file(logbook, files.errors);
    }
    return files;
}
