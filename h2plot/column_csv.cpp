#include "h2plot/column_csv.h"

#include "h2plot/number_text.h"
#include "telemetry/channels.h"

#include <charconv>

namespace {

// The shortest text that reads back as the same double.
void append_value(std::string& out, double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

} // namespace

std::string render_column_csv(const PlotModel& model) {
    std::string out = "utc,mjd";
    for (const ChannelPlot& channel : model.channels) {
        const std::string name = kChannels[channel.row].name;
        out += "," + name + "_min," + name + "_mean," + name + "_max," + name + "_count";
    }
    out += "\n";
    for (int c = 0; c < model.time.count; ++c) {
        const MicroDay start = model.time.start_of(c);
        out += utc_text(start, 6) + "," +
               number_text(static_cast<double>(start) / kMicroDaysPerDay, 6);
        for (const ChannelPlot& channel : model.channels) {
            const Summary& s = channel.columns[static_cast<std::size_t>(c)];
            out += ',';
            if (s.count > 0) {
                append_value(out, s.min);
                out += ',';
                append_value(out, s.mean());
                out += ',';
                append_value(out, s.max);
            } else {
                out += ",,";
            }
            out += ',' + std::to_string(s.count);
        }
        out += "\n";
    }
    return out;
}
