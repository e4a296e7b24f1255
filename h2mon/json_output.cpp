#include "h2mon/json_output.h"

#include <cstring>

namespace {

// Names are aligned to this width so that the values line up.
constexpr int kNameWidth = 10;
// A numeric value fills eight columns ("%7.3lf "); hexadecimal values are padded to it.
constexpr int kValueWidth = 8;

const char kBoldBlack[] = "\x1b[01m\x1b[30m";
const char kColourReset[] = "\x1b[01m\x1b[0m";

// Writes `count` spaces to the console device. Standard output is flushed first
// so that on a console the padding lands after the text printed before it.
void pad_on_console(int count, const RecordOutput& output) {
    if (count <= 0) {
        return;
    }
    std::fflush(output.out);
    for (int i = 0; i < count; ++i) {
        output.putch(' ');
    }
}

void print_numeric_value(const std::uint8_t* frame, const CHANNEL& channel,
                         const RecordOutput& output) {
    std::fprintf(output.out, "%7.3lf ", channel_value(frame, channel));
}

void print_hex_value(const std::uint8_t* frame, const CHANNEL& channel,
                     const RecordOutput& output) {
    char digits[kChannelHexSize];
    channel_hex(frame, channel, digits);
    if (!output.console_mode) {
        std::fprintf(output.out, "%s", digits);
        return;
    }
    if (output.escape_sequences) {
        std::fprintf(output.out, "%s%s%s", kBoldBlack, digits, kColourReset);
    } else {
        std::fprintf(output.out, "%s", digits);
    }
    const int bytes = channel.last - channel.first + 1;
    pad_on_console(kValueWidth - 2 * bytes, output);
}

} // namespace

void print_json_block(const std::uint8_t* frame, const RecordOutput& output) {
    std::fprintf(output.out, "[\n");
    std::fprintf(output.out, "    { \"chan\": %d,\t", 0);
    std::fprintf(output.out, "\"name\": \"MJD\",       ");
    std::fprintf(output.out, "\"val\": %lf", output.clock(nullptr));
    std::fprintf(output.out, " },\n");
    int number = 1;
    for (const CHANNEL& channel : kChannels) {
        if (channel_shown(channel)) {
            print_json_element(frame, channel, number++, output);
        }
    }
    std::fprintf(output.out, "]\n");
}

void print_json_element(const std::uint8_t* frame, const CHANNEL& channel, int number,
                        const RecordOutput& output) {
    std::fprintf(output.out, "    { \"chan\": %d,\t\"name\": \"%s\",", number, channel.name);
    if (output.console_mode) {
        pad_on_console(kNameWidth - static_cast<int>(std::strlen(channel.name)), output);
    }
    std::fprintf(output.out, "\"val\": ");
    if (channel.scale != 0) {
        print_numeric_value(frame, channel, output);
    } else {
        print_hex_value(frame, channel, output);
    }
    std::fprintf(output.out, " },\n");
}
