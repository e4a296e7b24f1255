#include "telemetry/log_row.h"

#include "telemetry/hex.h"

#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::string_view kHeaderStart = "MJD,";

bool hex_digits_only(std::string_view text) {
    for (char c : text) {
        if (hex_digit_value(c) < 0) {
            return false;
        }
    }
    return true;
}

std::size_t span_digits(const CHANNEL& channel) {
    return static_cast<std::size_t>(2 * channel_bytes(channel));
}

// Records where the fields after the commas of `line` start (one past each
// comma), up to `most` of them; returns how many commas it found, `most` + 1
// when there are more. A row is mostly short fields: one pass that looks at 32
// bytes at a time beats a search per field, and mispredicts the end of the
// loop over a step's commas less often than steps of 16.
int find_commas(std::string_view line, std::uint32_t* after, int most) {
    int found = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(',');
    const auto commas = [&](std::size_t at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + at));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, comma)));
    };
    for (; i + 32 <= line.size(); i += 32) {
        unsigned mask = commas(i) | commas(i + 16) << 16;
        while (mask != 0) {
            if (found == most) {
                return most + 1;
            }
            after[found++] =
                static_cast<std::uint32_t>(i + 1 + static_cast<unsigned>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
#endif
    for (; i < line.size(); ++i) {
        if (line[i] == ',') {
            if (found == most) {
                return most + 1;
            }
            after[found++] = static_cast<std::uint32_t>(i + 1);
        }
    }
    return found;
}

} // namespace

bool parse_decimal(std::string_view text, double* value) {
    return parse_decimal(text, 0, value);
}

namespace {

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPower = 22;
// Up to 15 digits make an integer below 2^53, which a double holds exactly.
constexpr int kMaxFastDigits = 15;

// The common case, exactly: the digits as an integer, then one multiplication
// or division by an exactly held power of ten, which rounds once. False when
// `text` needs the general path (or is no number).
bool parse_short_decimal(std::string_view text, int exponent, double* value) {
    const char* at = text.data();
    const char* const end = at + text.size();
    const bool negative = at != end && *at == '-';
    at += negative ? 1 : 0;
    // Up to kMaxFastDigits digits and a point; the loop then needs no count.
    if (end - at > kMaxFastDigits + 1) {
        return false;
    }
    std::uint64_t digits = 0;
    const char* point = nullptr;
    for (; at != end; ++at) {
        const unsigned digit = static_cast<unsigned char>(*at) - static_cast<unsigned>('0');
        if (digit < 10) {
            digits = digits * 10 + digit;
        } else if (*at == '.' && point == nullptr) {
            point = at;
        } else {
            return false;
        }
    }
    const int length = static_cast<int>(end - text.data()) - (negative ? 1 : 0);
    const int count = length - (point != nullptr ? 1 : 0);
    const int shift = exponent - (point != nullptr ? static_cast<int>(end - point - 1) : 0);
    if (count == 0 || count > kMaxFastDigits || shift > kMaxExactPower || shift < -kMaxExactPower) {
        return false;
    }
    // Below 10^15 times at most 10^22: always finite.
    const double result = shift >= 0 ? static_cast<double>(digits) * kPowersOfTen[shift]
                                     : static_cast<double>(digits) / kPowersOfTen[-shift];
    *value = negative ? -result : result;
    return true;
}

} // namespace

bool parse_decimal(std::string_view text, int exponent, double* value) {
    if (parse_short_decimal(text, exponent, value)) {
        return true;
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    // from_chars takes no leading '+' and no white space, as h2mon prints none.
    double parsed;
    const auto [stop, error] = std::from_chars(begin, end, parsed, std::chars_format::fixed);
    if (error != std::errc() || stop != end || text.empty() || !std::isfinite(parsed)) {
        return false;
    }
    if (exponent == 0) {
        *value = parsed;
        return true;
    }
    // Long numbers: the digits again with the exponent written after them.
    std::string scaled(text);
    scaled += 'e';
    scaled += std::to_string(exponent);
    const auto result = std::from_chars(scaled.data(), scaled.data() + scaled.size(), *value,
                                        std::chars_format::scientific);
    return result.ec == std::errc() && std::isfinite(*value);
}

LogLine LogRow::parse(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.substr(0, kHeaderStart.size()) == kHeaderStart) {
        return LogLine::kHeader;
    }
    // Row 0 is the one hidden row, so the MJD takes its place: piece k of the
    // line is the field of row k, and row kLastChannel's field ends the line.
    // Longer than any row; the offsets below are 32 bits.
    if (line.size() >= kMaxRowBytes ||
        find_commas(line, starts_ + 1, kLastChannel) != kLastChannel) {
        return LogLine::kMalformed;
    }
    line_ = line.data();
    starts_[kChannelCount] = static_cast<std::uint32_t>(line.size() + 1);
    return parse_decimal(field(0), &mjd_) ? LogLine::kRow : LogLine::kMalformed;
}

bool LogRow::value(int row, double* value) const {
    const CHANNEL& channel = kChannels[row];
    const std::string_view text = field(row);
    if (channel.scale != 0) {
        return parse_decimal(text, value);
    }
    if (text.size() != span_digits(channel) || !code_is_number(channel)) {
        return false;
    }
    std::uint64_t number = 0;
    for (char c : text) {
        const int digit = hex_digit_value(c);
        if (digit < 0) {
            return false;
        }
        number = number * 16 + static_cast<std::uint64_t>(digit);
    }
    *value = static_cast<double>(number);
    return true;
}

bool LogRow::codes_well_formed() const {
    for (int row = 1; row < kChannelCount; ++row) {
        const CHANNEL& channel = kChannels[row];
        if (channel.scale == 0 &&
            (field(row).size() != span_digits(channel) || !hex_digits_only(field(row)))) {
            return false;
        }
    }
    return true;
}

bool LogRow::fields_well_formed() const {
    for (int row = 1; row < kChannelCount; ++row) {
        const CHANNEL& channel = kChannels[row];
        double number;
        const bool ok = channel.scale != 0 ? parse_decimal(field(row), &number)
                                           : field(row).size() == span_digits(channel) &&
                                                 hex_digits_only(field(row));
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string csv_header() {
    std::string line = "MJD";
    for (const CHANNEL& channel : kChannels) {
        if (channel_shown(channel)) {
            line += ',';
            line += channel.name;
        }
    }
    return line;
}

std::string csv_mjd(double mjd) {
    char text[64];
    std::snprintf(text, sizeof text, "%lf", mjd);
    return text;
}

void append_csv_field(std::string& text, const std::uint8_t* frame, const CHANNEL& channel) {
    if (channel.scale != 0) {
        char number[64];
        const int length =
            std::snprintf(number, sizeof number, ",%.3lf", channel_value(frame, channel));
        text.append(number, static_cast<std::size_t>(length));
        return;
    }
    text += ',';
    char two[2];
    for (int k = channel.last - 2; k >= channel.first - 2; --k) {
        put_hex_byte(frame[k], two);
        text.append(two, 2);
    }
}

void append_csv_fields(std::string& text, const std::uint8_t* frame) {
    for (const CHANNEL& channel : kChannels) {
        if (channel_shown(channel)) {
            append_csv_field(text, frame, channel);
        }
    }
}
