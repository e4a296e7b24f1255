#include "h2export/mjd_time.h"

namespace {

constexpr std::int64_t kNsPerDay = 86400LL * 1000000000LL;
// A billionth of a day is 86 400 ns exactly.
constexpr std::int64_t kNsPerNanoDay = 86400;
constexpr int kFractionDigits = 9;
// Days that still fit in int64 nanoseconds (year 2262).
constexpr std::int64_t kMaxDays = kUnixEpochMjd + 106000;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool mjd_unix_ns(std::string_view text, std::int64_t* unix_ns) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() || whole.size() > 7) {
        return false;
    }
    std::int64_t days = 0;
    for (char c : whole) {
        if (!is_digit(c)) {
            return false;
        }
        days = days * 10 + (c - '0');
    }
    std::int64_t nano_days = 0;
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        if (!is_digit(fraction[i])) {
            return false;
        }
        if (i < kFractionDigits) {
            nano_days = nano_days * 10 + (fraction[i] - '0');
        }
    }
    for (std::size_t i = fraction.size(); i < kFractionDigits; ++i) {
        nano_days *= 10;
    }
    if (days < kUnixEpochMjd || days > kMaxDays) {
        return false;
    }
    *unix_ns = (days - kUnixEpochMjd) * kNsPerDay + nano_days * kNsPerNanoDay;
    return true;
}
