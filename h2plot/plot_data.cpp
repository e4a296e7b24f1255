#include "h2plot/plot_data.h"

#include <algorithm>

namespace {

// Times a plot accepts: MJD 0 up to the end of the year 9999.
bool plausible(MicroDay t) {
    static const MicroDay kEnd = mjd_of_date(10000, 1, 1) * kMicroDaysPerDay;
    return t >= 0 && t < kEnd;
}

// A time axis of no length (one record, or a range of one instant) is
// widened to this, around it.
constexpr MicroDay kLeastSpan = kMicroDaysPerDay / 24;

} // namespace

PlotData::PlotData(std::vector<int> rows, std::optional<MicroDay> from, std::optional<MicroDay> to,
                   int fine_bins)
    : from_(from), to_(to), bins_(static_cast<int>(rows.size()), fine_bins) {
    for (int row : rows) {
        Channel channel{row, {}, std::nullopt, 0, 0};
        channel.code = channel_kind(kChannels[row]) == ChannelKind::kCode;
        channels_.push_back(channel);
    }
}

bool PlotData::add(const LogRow& row) {
    const MicroDay t = micro_days(row.mjd());
    if (!plausible(t)) {
        return false;
    }
    if (previous_ && t < *previous_ && back_in_time_++ == 0) {
        first_back_ = t;
    }
    previous_ = t;
    if (from_ && t < *from_) {
        last_before_ = std::max(last_before_.value_or(t), t);
        return true;
    }
    if (to_ && t > *to_) {
        first_after_ = std::min(first_after_.value_or(t), t);
        return true;
    }
    ++rows_;
    first_ = std::min(first_.value_or(t), t);
    latest_ = std::max(latest_, t);
    Summary* bin = bins_.add_row(t);
    bool usable = true;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        Channel& channel = channels_[i];
        double value;
        if (!row.value(channel.row, &value)) {
            ++channel.unusable;
            usable = false;
            continue;
        }
        if (!channel.last || t >= *channel.last) {
            // A code's change from the record before, in time order.
            if (channel.code) [[unlikely]] {
                channel.changes += channel.last && value != channel.last_value;
            }
            channel.last = t;
            channel.last_value = value;
        }
        channel.overall.add(value);
        bin[i].add(value);
    }
    return usable;
}

double PlotData::change(int channel, const TimeColumns& values) const {
    const std::vector<Summary> columns = bins_.columns(channel, values);
    const auto has_values = [](const Summary& column) { return column.count > 0; };
    const auto first = std::find_if(columns.begin(), columns.end(), has_values);
    const auto last = std::find_if(columns.rbegin(), columns.rend(), has_values);
    return first == columns.end() ? 0 : last->mean() - first->mean();
}

PlotModel PlotData::model(int columns, const std::vector<ValueAxis>& axes) const {
    PlotModel model;
    const MicroDay lo = from_.value_or(first_.value_or(0));
    model.time = {lo, to_.value_or(first_ ? latest_ : lo), columns};
    model.intervals = find_gaps(bins_.row_times(), model.time.lo, model.time.hi);
    if (model.time.hi == model.time.lo) {
        model.time.lo -= kLeastSpan / 2;
        model.time.hi += kLeastSpan / 2;
    }
    for (const Gap& gap : model.intervals.gaps) {
        ++model.gaps.count;
        model.gaps.total += gap.end - gap.start;
        model.gaps.longest = std::max(model.gaps.longest, gap.end - gap.start);
    }
    // The span of the values in as many columns: the change is the values'
    // own, however few columns of the range they fill.
    const TimeColumns values{first_.value_or(0), latest_, columns};
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const Channel& channel = channels_[i];
        ChannelPlot plot{channel.row,
                         axes[i],
                         channel.overall,
                         channel.last_value,
                         change(static_cast<int>(i), values),
                         channel.changes,
                         bins_.columns(static_cast<int>(i), model.time)};
        // The line breaks after the last record before each gap, in the
        // column its bin went to.
        for (const Gap& gap : model.intervals.gaps) {
            if (!gap.at_edge && !plot.columns.empty()) {
                plot.columns[static_cast<std::size_t>(bins_.column_of(gap.start, model.time))]
                    .gap_after = true;
            }
        }
        model.channels.push_back(std::move(plot));
    }
    return model;
}
