#include "plot/plot_data.h"

#include <algorithm>

namespace {

// Times a plot accepts: MJD 0 up to the end of the year 9999.
bool plausible(MicroDay t) {
    static const MicroDay kEnd = mjd_of_date(10000, 1, 1) * kMicroDaysPerDay;
    return t >= 0 && t < kEnd;
}

} // namespace

PlotData::PlotData(std::vector<int> rows, std::optional<MicroDay> from, std::optional<MicroDay> to,
                   int fine_bins)
    : from_(from), to_(to), bins_(static_cast<int>(rows.size()), fine_bins) {
    for (int row : rows) {
        channels_.push_back({row, {}, {}, std::nullopt});
    }
}

bool PlotData::add(const LogRow& row) {
    if (!plausible(micro_days(row.mjd()))) {
        return false;
    }
    const MicroDay t = micro_days(row.mjd());
    if ((from_ && t < *from_) || (to_ && t > *to_)) {
        return true;
    }
    if (!first_) {
        first_ = latest_ = t;
    } else if (t > latest_) {
        interval_.note(t - latest_);
        latest_ = t;
    }
    first_ = std::min(*first_, t);
    bool usable = true;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        double value;
        if (row.value(channels_[i].row, &value)) {
            add_value(channels_[i], static_cast<int>(i), t, value);
        } else {
            usable = false;
        }
    }
    return usable;
}

void PlotData::add_value(Channel& channel, int index, MicroDay t, double value) {
    if (channel.last && t > *channel.last) {
        const MicroDay silence = t - *channel.last;
        if (interval_.is_gap(silence)) {
            ++channel.gaps.count;
            channel.gaps.total += silence;
            channel.gaps.longest = std::max(channel.gaps.longest, silence);
            bins_.mark_gap_after(*channel.last, index);
        }
    }
    if (!channel.last || t > *channel.last) {
        channel.last = t;
    }
    channel.overall.add(value);
    bins_.add(t, index, value);
}

PlotModel PlotData::model(int columns) const {
    PlotModel model;
    model.lo = from_.value_or(first_.value_or(0));
    model.hi = to_.value_or(latest_);
    model.interval = interval_.interval();
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const Channel& channel = channels_[i];
        model.channels.push_back({channel.row, channel.overall, channel.gaps,
                                  bins_.columns(static_cast<int>(i), model.lo, model.hi, columns)});
    }
    return model;
}
