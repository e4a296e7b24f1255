// The pixel columns of a time axis, and the one rule by which a time falls in
// a column and a column begins: the bins, the picture and the CSV of the
// columns all go by it, so a record is drawn, counted and stamped in the
// same column.
#pragma once

#include "telemetry/time_text.h"

#include <algorithm>

struct TimeColumns {
    MicroDay lo = 0; // the axis, both ends included
    MicroDay hi = 0;
    int count = 0;

    // Column c holds the times t with (t - lo) * count / span == c; the last
    // column also takes hi. A time off the axis goes to the column at its end.
    int column_of(MicroDay t) const;

    // The first microday of column c: every time before it is in an earlier
    // column, and it is in column c itself when columns are at least a
    // microday wide.
    MicroDay start_of(int c) const;

    // Where `t` lies on the axis, in columns from lo (0) to hi (count).
    double position(MicroDay t) const;

    MicroDay span() const { return std::max<MicroDay>(hi - lo, 1); }
};
