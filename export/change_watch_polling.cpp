#include "export/change_watch.h"

#include <algorithm>
#include <thread>

ChangeWatch::ChangeWatch() = default;
ChangeWatch::~ChangeWatch() = default;

bool ChangeWatch::watch(const std::string&) {
    return true;
}

bool ChangeWatch::wait(std::optional<Duration> timeout) {
    std::this_thread::sleep_for(timeout ? std::clamp(*timeout, Duration(0), kPollInterval)
                                        : kPollInterval);
    return false;
}
