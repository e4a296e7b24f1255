#include "h2mon/csv_output.h"

namespace {

// Prints the same piece to standard output and, when one is open, the log file.
template <typename Value>
void print_to_both(std::FILE* out, std::FILE* log, const char* format, Value value) {
    std::fprintf(out, format, value);
    if (log != nullptr) {
        std::fprintf(log, format, value);
    }
}

} // namespace

void print_csv_header(std::FILE* out) {
    std::fprintf(out, "MJD,");
    for (int row = 0; row < kChannelCount; ++row) {
        if (channel_shown(kChannels[row])) {
            std::fprintf(out, "%s%s", kChannels[row].name, row == kLastChannel ? "\n" : ",");
        }
    }
}

void print_csv_record(const std::uint8_t* frame, const RecordOutput& output) {
    std::fprintf(output.out, "%lf", output.clock(nullptr));
    if (output.log != nullptr) {
        // A reading of its own: the log row is stamped when it is written.
        std::fprintf(output.log, "%lf", output.clock(nullptr));
    }
    for (const CHANNEL& channel : kChannels) {
        if (channel_shown(channel)) {
            print_csv_field(frame, channel, output.out, output.log);
        }
    }
    print_to_both(output.out, output.log, "%s", "\n");
}

void print_csv_field(const std::uint8_t* frame, const CHANNEL& channel, std::FILE* out,
                     std::FILE* log) {
    if (channel.scale != 0) {
        print_to_both(out, log, ",%.3lf", channel_value(frame, channel));
        return;
    }
    char digits[kChannelHexSize];
    channel_hex(frame, channel, digits);
    print_to_both(out, log, ",%s", digits);
}
