#include "h2plot/gap_finder.h"

#include "h2plot/interval_estimate.h"

#include <algorithm>
#include <utility>

namespace {

class Steps {
public:
    explicit Steps(const std::vector<RowTimes>& bins) : bins_(bins) {}

    std::size_t size() const { return bins_.size(); }

    // The silence between bin i and the next one.
    MicroDay between(std::size_t i) const { return bins_[i + 1].first - bins_[i].last; }

    // The usual step among the rows within bin i, its longest step left out;
    // 0 when there are too few.
    MicroDay inner(std::size_t i) const {
        const RowTimes& b = bins_[i];
        if (!b.ordered) {
            return b.count >= 2 ? (b.last - b.first) / static_cast<MicroDay>(b.count - 1) : 0;
        }
        return b.count >= 3 ? usual_step(b.first, b.last, b.count, b.longest) : 0;
    }

    // The logging interval around bin i: its own rows', else the shortest
    // step to or from it.
    MicroDay local(std::size_t i) const {
        if (const MicroDay own = inner(i); own > 0) {
            return own;
        }
        MicroDay shortest = 0;
        const auto take = [&shortest](MicroDay step) {
            if (step > 0 && (shortest == 0 || step < shortest)) {
                shortest = step;
            }
        };
        if (bins_[i].ordered && bins_[i].count == 2) {
            take(bins_[i].longest);
        }
        if (i > 0) {
            take(between(i - 1));
        }
        if (i + 1 < size()) {
            take(between(i));
        }
        return shortest;
    }

    // Whether the longest step within bin i is a gap, against the interval
    // in the bin and in its neighbours.
    bool inner_gap(std::size_t i) const {
        const RowTimes& b = bins_[i];
        if (!b.ordered || b.count < 2) {
            return false;
        }
        const MicroDay before = i > 0 ? local(i - 1) : 0;
        const MicroDay after = i + 1 < size() ? local(i + 1) : 0;
        return is_gap(b.longest, inner(i), std::max(before, after));
    }

private:
    const std::vector<RowTimes>& bins_;
};

// The step at `fraction` of the total weight of `steps` (step, weight).
MicroDay weighted_at(const std::vector<std::pair<MicroDay, std::uint64_t>>& steps,
                     std::uint64_t total, double fraction) {
    const double wanted = fraction * static_cast<double>(total);
    std::uint64_t sum = 0;
    for (const auto& [step, weight] : steps) {
        sum += weight;
        if (static_cast<double>(sum) >= wanted) {
            return step;
        }
    }
    return steps.empty() ? 0 : steps.back().first;
}

} // namespace

LogIntervals find_gaps(const std::vector<RowTimes>& bins, MicroDay lo, MicroDay hi) {
    LogIntervals result;
    if (bins.empty()) {
        if (hi > lo) {
            result.gaps.push_back({lo, hi, true});
        }
        return result;
    }
    const Steps steps(bins);
    std::vector<std::pair<MicroDay, std::uint64_t>> weighted;
    if (bins.front().first > lo && is_gap(bins.front().first - lo, steps.local(0), 0)) {
        result.gaps.push_back({lo, bins.front().first, true});
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const RowTimes& b = bins[i];
        if (steps.inner_gap(i)) {
            result.gaps.push_back({b.longest_at, b.longest_at + b.longest, false});
        }
        if (const MicroDay inner = steps.inner(i); inner > 0) {
            weighted.push_back({inner, b.count - 1});
        }
        if (i + 1 < steps.size()) {
            const MicroDay silence = steps.between(i);
            if (is_gap(silence, steps.local(i), steps.local(i + 1))) {
                result.gaps.push_back({b.last, bins[i + 1].first, false});
            } else if (silence > 0) {
                weighted.push_back({silence, 1});
            }
        }
    }
    const std::size_t last = steps.size() - 1;
    if (hi > bins[last].last && is_gap(hi - bins[last].last, steps.local(last), 0)) {
        result.gaps.push_back({bins[last].last, hi, true});
    }
    std::sort(weighted.begin(), weighted.end());
    std::uint64_t total = 0;
    for (const auto& step : weighted) {
        total += step.second;
    }
    result.usual = weighted_at(weighted, total, 0.5);
    result.low = weighted_at(weighted, total, 0.05);
    result.high = weighted_at(weighted, total, 0.95);
    return result;
}
