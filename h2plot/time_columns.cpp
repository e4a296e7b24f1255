#include "h2plot/time_columns.h"

int TimeColumns::column_of(MicroDay t) const {
    const MicroDay at = std::clamp(t, lo, lo + span());
    return static_cast<int>(std::min<MicroDay>((at - lo) * count / span(), count - 1));
}

MicroDay TimeColumns::start_of(int c) const {
    // The least offset d with d * count / span >= c: c * span / count, rounded up.
    return lo + (span() * c + count - 1) / count;
}

double TimeColumns::position(MicroDay t) const {
    return static_cast<double>(t - lo) / static_cast<double>(span()) * count;
}
