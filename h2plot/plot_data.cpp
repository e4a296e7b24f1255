#include "h2plot/plot_data.h"

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
    const MicroDay t = micro_days(row.mjd());
    if (!plausible(t)) {
        return false;
    }
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
    // The gaps first: their marks go into earlier bins, and the bin of `t`
    // is fetched once for every channel.
    double values[kChannelCount];
    bool valid[kChannelCount];
    bool usable = true;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        valid[i] = row.value(channels_[i].row, &values[i]);
        usable = usable && valid[i];
        if (valid[i]) {
            note_silence(channels_[i], static_cast<int>(i), t);
        }
    }
    Summary* bin = bins_.at(t);
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        if (valid[i]) {
            Channel& channel = channels_[i];
            channel.last = std::max(channel.last.value_or(t), t);
            channel.overall.add(values[i]);
            bin[i].add(values[i]);
        }
    }
    return usable;
}

void PlotData::note_silence(Channel& channel, int index, MicroDay t) {
    if (channel.last && t > *channel.last) {
        const MicroDay silence = t - *channel.last;
        if (interval_.is_gap(silence)) {
            ++channel.gaps.count;
            channel.gaps.total += silence;
            channel.gaps.longest = std::max(channel.gaps.longest, silence);
            bins_.at(*channel.last)[index].gap_after = true;
        }
    }
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
