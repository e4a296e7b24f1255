// The interval at which a maser's records come over a stretch of a log,
// judged from the records themselves (h2mon's interval is whatever the
// operator chose and may change while it runs), and from it when a silence is
// a gap. Times are in any one unit (nanoseconds, microdays), as whole numbers.
// A reader that follows a log as it grows takes the median of the latest
// steps instead (recent_steps.h).
#pragma once

#include <algorithm>
#include <cstdint>

// A silence longer than this many intervals is a gap: a record or two lost to
// a noisy line or a restart is not.
constexpr int kGapIntervals = 5;

// Whether `silence` is a gap between records whose usual steps are `before`
// and `after` it (0: not known). The longer of the two counts, so that a
// change of interval (1 s to 10 s, 10 s to 1 min) is no gap.
inline bool is_gap(std::int64_t silence, std::int64_t before, std::int64_t after) {
    const std::int64_t usual = std::max(before, after);
    return usual > 0 && silence > kGapIntervals * usual;
}

// The usual step among `count` records in time order from `first` to `last`
// whose longest step is `longest`: the mean of the other steps, so that one
// silence among them does not count. 0 with fewer than two records.
std::int64_t usual_step(std::int64_t first, std::int64_t last, std::uint64_t count,
                        std::int64_t longest);
