#include "telemetry/log_row.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr std::string_view kHeaderStart = "MJD,";
// A double holds every integer up to 2^53: 13 hexadecimal digits are 52 bits.
constexpr std::size_t kMaxCodeDigits = 13;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool hex_digits_only(std::string_view text) {
    for (char c : text) {
        if (hex_digit(c) < 0) {
            return false;
        }
    }
    return true;
}

std::size_t span_digits(const CHANNEL& channel) {
    return static_cast<std::size_t>(2 * (channel.last - channel.first + 1));
}

} // namespace

bool parse_decimal(std::string_view text, double* value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    // from_chars takes no leading '+' and no white space, as h2mon prints none.
    const auto [stop, error] = std::from_chars(begin, end, *value, std::chars_format::fixed);
    return error == std::errc() && stop == end && !text.empty() && std::isfinite(*value);
}

LogLine LogRow::parse(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.substr(0, kHeaderStart.size()) == kHeaderStart) {
        return LogLine::kHeader;
    }
    std::size_t start = 0;
    // Row 0 is the one hidden row, so the MJD takes its place: piece k of the
    // line is the field of row k, and row kLastChannel's field ends the line.
    for (int row = 0; row < kLastChannel; ++row) {
        const std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            return LogLine::kMalformed;
        }
        const std::string_view text = line.substr(start, comma - start);
        fields_[row] = text;
        start = comma + 1;
    }
    fields_[kLastChannel] = line.substr(start);
    if (fields_[kLastChannel].find(',') != std::string_view::npos) {
        return LogLine::kMalformed;
    }
    return parse_decimal(fields_[0], &mjd_) ? LogLine::kRow : LogLine::kMalformed;
}

bool LogRow::value(int row, double* value) const {
    const CHANNEL& channel = kChannels[row];
    const std::string_view text = fields_[row];
    if (channel.scale != 0) {
        return parse_decimal(text, value);
    }
    if (text.size() != span_digits(channel) || text.size() > kMaxCodeDigits) {
        return false;
    }
    std::uint64_t number = 0;
    for (char c : text) {
        const int digit = hex_digit(c);
        if (digit < 0) {
            return false;
        }
        number = number * 16 + static_cast<std::uint64_t>(digit);
    }
    *value = static_cast<double>(number);
    return true;
}

bool LogRow::fields_well_formed() const {
    for (int row = 1; row < kChannelCount; ++row) {
        const CHANNEL& channel = kChannels[row];
        double number;
        const bool ok = channel.scale != 0 ? parse_decimal(fields_[row], &number)
                                           : fields_[row].size() == span_digits(channel) &&
                                                 hex_digits_only(fields_[row]);
        if (!ok) {
            return false;
        }
    }
    return true;
}
