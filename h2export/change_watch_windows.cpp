#include "h2export/change_watch.h"

#include <algorithm>

ChangeWatch::ChangeWatch(const StopSignals& stops) : stops_(stops) {}

ChangeWatch::~ChangeWatch() = default;

bool ChangeWatch::watch(const std::string&) {
    return true;
}

bool ChangeWatch::watch_folder(const std::string&) {
    return true;
}

bool ChangeWatch::wait(std::optional<Duration> timeout) {
    // A stop request ends the wait at once; the caller looks after every wait.
    stops_.wait(timeout ? std::clamp(*timeout, Duration(0), kPollInterval) : kPollInterval);
    return false;
}
