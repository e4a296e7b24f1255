#include "h2export/change_watch.h"

#include <algorithm>
#include <thread>

ChangeWatch::ChangeWatch(const StopSignals& stops) : stops_(stops) {}

ChangeWatch::~ChangeWatch() = default;

bool ChangeWatch::watch(const std::string&) {
    return true;
}

bool ChangeWatch::watch_folder(const std::string&) {
    return true;
}

bool ChangeWatch::wait(std::optional<Duration> timeout) {
    // A stop request is seen within one interval: the caller looks after every wait.
    if (!stops_.requested()) {
        std::this_thread::sleep_for(timeout ? std::clamp(*timeout, Duration(0), kPollInterval)
                                            : kPollInterval);
    }
    return false;
}
