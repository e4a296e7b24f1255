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
    const std::size_t columns = model.channels.empty() ? 0 : model.channels[0].columns.size();
    const MicroDay span = model.hi - model.lo;
    for (std::size_t c = 0; c < columns; ++c) {
        // The column's first microday: the inverse of PlotModel::column_of.
        const MicroDay start =
            model.lo + (span * static_cast<MicroDay>(c) + static_cast<MicroDay>(columns) - 1) /
                           static_cast<MicroDay>(columns);
        out += utc_text(start, 6) + "," +
               number_text(static_cast<double>(start) / kMicroDaysPerDay, 6);
        for (const ChannelPlot& channel : model.channels) {
            const Summary& s = channel.columns[c];
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
