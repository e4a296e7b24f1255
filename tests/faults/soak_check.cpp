#include "tests/faults/soak_check.h"

#include "telemetry/channels.h"
#include "telemetry/hex.h"
#include "tests/e2e/records.h"

#include <cstdio>
#include <sstream>

namespace faults {

namespace {

std::string hex_span(const Bytes& frame, const CHANNEL& channel) {
    std::string digits;
    for (int k = channel.last - 2; k >= channel.first - 2; --k) {
        append_hex(digits, &frame[static_cast<std::size_t>(k)], 1);
    }
    return digits;
}

std::string scaled_value(const Bytes& frame, const CHANNEL& channel) {
    const unsigned low = frame[static_cast<std::size_t>(channel.first - 2)];
    const unsigned high = frame[static_cast<std::size_t>(channel.last - 2)];
    const int raw = static_cast<int>(high << 8 | low) - (high >= 0x80 ? 0x10000 : 0);
    char text[32];
    std::snprintf(text, sizeof text, "%.3lf", raw * channel.scale + channel.offset);
    return text;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

} // namespace

bool parse_exchange_log(const std::vector<std::string>& lines,
                        std::vector<LoggedExchange>& exchanges) {
    for (const std::string& line : lines) {
        std::istringstream fields(line);
        LoggedExchange exchange;
        std::string clean;
        std::string frame;
        if (!(fields >> exchange.poll >> exchange.actions >> exchange.sent >> clean >> frame) ||
            (clean != "clean" && clean != "dirty")) {
            return false;
        }
        exchange.clean = clean == "clean";
        exchange.frame = h2test::from_hex(frame);
        exchanges.push_back(exchange);
    }
    return true;
}

std::vector<std::string> csv_fields(const Bytes& frame) {
    std::vector<std::string> fields;
    for (const CHANNEL& channel : kChannels) {
        if (channel_shown(channel)) {
            fields.push_back(channel.scale == 0 ? hex_span(frame, channel)
                                                : scaled_value(frame, channel));
        }
    }
    return fields;
}

std::vector<std::string> fields_after_timestamp(const std::string& record) {
    std::vector<std::string> fields = split(record, ',');
    if (!fields.empty()) {
        fields.erase(fields.begin());
    }
    return fields;
}

Verdict judge(const std::vector<LoggedExchange>& exchanges,
              const std::vector<std::vector<std::string>>& records) {
    Verdict verdict;
    std::vector<bool> printed(exchanges.size(), false);
    std::size_t next = 0;
    for (const std::vector<std::string>& record : records) {
        std::size_t found = next;
        while (found < exchanges.size() && !(exchanges[found].sent == kFrameLength &&
                                             exchanges[found].frame.size() == kFrameLength &&
                                             csv_fields(exchanges[found].frame) == record)) {
            ++found;
        }
        if (found == exchanges.size()) {
            std::string text;
            for (const std::string& field : record) {
                text += "," + field;
            }
            verdict.strays.push_back(text);
            continue;
        }
        printed[found] = true;
        ++verdict.matched;
        next = found + 1;
    }
    bool first_clean = true;
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        if (!exchanges[i].clean) {
            continue;
        }
        if (!first_clean) {
            ++verdict.required;
            if (!printed[i]) {
                verdict.missing.push_back(exchanges[i].poll);
            }
        }
        first_clean = false;
    }
    return verdict;
}

std::map<std::string, std::size_t> fault_counts(const std::vector<LoggedExchange>& exchanges) {
    std::map<std::string, std::size_t> counts;
    for (const LoggedExchange& exchange : exchanges) {
        for (const std::string& action : split(exchange.actions, '+')) {
            ++counts[action.substr(0, action.find(':'))];
        }
    }
    return counts;
}

} // namespace faults
