#include "h2mon/json_output.h"

#include <cstring>

namespace {

// Names are aligned to this width so that the values line up.
constexpr int kNameWidth = 10;
// A numeric value fills eight columns ("%7.3lf "); hexadecimal values are padded to it.
constexpr int kValueWidth = 8;

const char kBoldBlack[] = "\x1b[01m\x1b[30m";
const char kColourReset[] = "\x1b[01m\x1b[0m";

void print_numeric_value(const std::uint8_t* frame, const CHANNEL& channel, RecordText& text) {
    text.print("%7.3lf ", channel_value(frame, channel));
}

void print_hex_value(const std::uint8_t* frame, const CHANNEL& channel, const RecordOutput& output,
                     RecordText& text) {
    char digits[kChannelHexSize];
    channel_hex(frame, channel, digits);
    if (!output.console_mode) {
        text.print("%s", digits);
        return;
    }
    if (output.escape_sequences) {
        text.print("%s%s%s", kBoldBlack, digits, kColourReset);
    } else {
        text.print("%s", digits);
    }
    const int bytes = channel.last - channel.first + 1;
    text.pad(kValueWidth - 2 * bytes);
}

} // namespace

void print_json_block(const std::uint8_t* frame, const RecordOutput& output, RecordText& text) {
    text.print("[\n");
    text.print("    { \"chan\": %d,\t", 0);
    text.print("\"name\": \"MJD\",       ");
    text.print("\"val\": %lf", output.clock(nullptr));
    text.print(" },\n");
    int number = 1;
    for (const CHANNEL& channel : kChannels) {
        if (channel_shown(channel)) {
            print_json_element(frame, channel, number++, output, text);
        }
    }
    text.print("]\n");
}

void print_json_element(const std::uint8_t* frame, const CHANNEL& channel, int number,
                        const RecordOutput& output, RecordText& text) {
    text.print("    { \"chan\": %d,\t\"name\": \"%s\",", number, channel.name);
    if (output.console_mode) {
        text.pad(kNameWidth - static_cast<int>(std::strlen(channel.name)));
    }
    text.print("\"val\": ");
    if (channel.scale != 0) {
        print_numeric_value(frame, channel, text);
    } else {
        print_hex_value(frame, channel, output, text);
    }
    text.print(" },\n");
}
