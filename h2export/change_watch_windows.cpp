#include "h2export/change_watch.h"

#include <algorithm>

ChangeWatch::ChangeWatch(const StopSignals& stops) : stops_(stops) {}

ChangeWatch::~ChangeWatch() = default;

bool ChangeWatch::watch_folder(const std::string&) {
    return true;
}

void ChangeWatch::watch_file(const LogFile&, int) {}

void ChangeWatch::watch_path(const std::string&, int) {}

void ChangeWatch::keep(int, int) {}

void ChangeWatch::forget(int) {}

void ChangeWatch::wait(std::optional<Duration> timeout, Changes& changes) {
    // A stop request ends the wait at once; everything is looked at after it.
    changes = Changes{};
    changes.stop =
        stops_.wait(timeout ? std::clamp(*timeout, Duration(0), kPollInterval) : kPollInterval);
    changes.all = true;
}
