// Rows of an h2mon log for tests and benchmarks: every channel at a neutral
// value ("1.000", or zero digits for a code), with the channels a case is
// about set to its own values.
#pragma once

#include <string>
#include <utility>
#include <vector>

class LogLines {
public:
    LogLines();

    // A row stamped `mjd` (as h2mon prints it, "61384.000100") with the named
    // channels' fields as given, without its line end.
    std::string row(const std::string& mjd,
                    const std::vector<std::pair<std::string, std::string>>& fields) const;

    // The same with the MJD of `micro_days` microdays since MJD 0.
    std::string row(long long micro_days,
                    const std::vector<std::pair<std::string, std::string>>& fields) const;

private:
    std::vector<std::string> defaults_; // by table row
};

// "61384.000100" for 61384000100 microdays.
std::string mjd_text(long long micro_days);
