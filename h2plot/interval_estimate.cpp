#include "h2plot/interval_estimate.h"

std::int64_t usual_step(std::int64_t first, std::int64_t last, std::uint64_t count,
                        std::int64_t longest) {
    if (count < 2) {
        return 0;
    }
    if (count == 2) {
        return last - first;
    }
    return (last - first - longest) / static_cast<std::int64_t>(count - 2);
}
