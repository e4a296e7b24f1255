// The maser's subsystems and the channels that tell of each: the one grouping
// that h2plot's --channels groups, the health analysis and its report share.
#pragma once

#include <array>
#include <string_view>
#include <vector>

enum class Subsystem { kSupplies, kSignals, kVacuum, kHydrogen, kOvens, kFll };

constexpr int kSubsystemCount = 6;

struct SubsystemChannels {
    Subsystem subsystem;
    const char* name; // as h2plot's --channels and the logbook name it
    std::vector<const char*> channels;
};

// Every subsystem with its channels, in the order above. A channel may tell of
// two (H2_V, the hydrogen source's oven, is both hydrogen and ovens).
const std::array<SubsystemChannels, kSubsystemCount>& subsystem_channels();

const char* subsystem_name(Subsystem subsystem);

// The subsystem named `name` without regard to ASCII case, or null.
const SubsystemChannels* subsystem_named(std::string_view name);

// Bit (1 << subsystem) set for each subsystem whose channels include table
// row `row`.
unsigned subsystems_of_row(int row);
