#include "tests/e2e/records.h"

#include "telemetry/mjd_time.h"
#include "tests/support/process.h"

#include <algorithm>
#include <chrono>
#include <regex>
#include <sstream>

namespace e2e {

namespace {

// A timestamp as h2mon prints it ("%lf"), in the two places it appears.
const std::regex kCsvStamp(R"(^([0-9]+\.[0-9]{6})(?=,))");
const std::regex kJsonStamp(R"(("name": "MJD", +"val": )([0-9]+\.[0-9]{6}))");

// Masks the stamp `match` group `group` of `line`, if any.
bool mask_stamp(std::string& line, const std::regex& stamp, std::size_t group, Masked& masked) {
    std::smatch match;
    if (!std::regex_search(line, match, stamp)) {
        return false;
    }
    masked.mjds.push_back(std::stod(match[group].str()));
    line.replace(static_cast<std::size_t>(match.position(group)),
                 static_cast<std::size_t>(match.length(group)), "<MJD>");
    return true;
}

} // namespace

std::string golden_path(const std::string& name) {
    return std::string(H2_E2E_GOLDEN_DIR) + "/" + name;
}

std::string golden(const std::string& name) {
    return h2test::read_text_file(golden_path(name));
}

std::vector<Bytes> golden_frames() {
    std::vector<Bytes> frames;
    for (std::string line : lines_of(golden("frames.txt"))) {
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t") != std::string::npos) {
            frames.push_back(from_hex(line));
        }
    }
    return frames;
}

Masked mask_mjds(const std::string& output) {
    Masked masked;
    std::istringstream text(output);
    for (std::string line; std::getline(text, line);) {
        if (!mask_stamp(line, kCsvStamp, 1, masked)) {
            mask_stamp(line, kJsonStamp, 2, masked);
        }
        masked.text += line;
        if (!text.eof()) {
            masked.text += '\n';
        }
    }
    return masked;
}

std::vector<std::string> unstamped_rows(const std::string& text) {
    return lines_of(mask_mjds(text).text);
}

double mjd_now() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return mjd_of_unix_seconds(std::chrono::duration<double>(since_epoch).count());
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::size_t line_count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

void replace_all(std::string& text, const std::string& placeholder, const std::string& value) {
    for (std::size_t at = 0; (at = text.find(placeholder, at)) != std::string::npos;) {
        text.replace(at, placeholder.size(), value);
        at += value.size();
    }
}

std::string diagnostic(const std::string& message) {
    return "\n{usage}\n\n" + message + "\n";
}

} // namespace e2e
