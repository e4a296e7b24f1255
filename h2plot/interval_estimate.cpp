#include "h2plot/interval_estimate.h"

void IntervalEstimate::note(MicroDay step) {
    steps_.note(step);
    // The median moves slowly once the window is full: working it out once a
    // window keeps the cost per record small.
    if (steps_.count() < kSteps || ++fresh_ >= kSteps) {
        fresh_ = 0;
        median_ = steps_.median();
    }
}
