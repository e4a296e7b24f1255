#include "telemetry/subsystems.h"

#include "telemetry/channels.h"

const std::array<SubsystemChannels, kSubsystemCount>& subsystem_channels() {
    static const std::array<SubsystemChannels, kSubsystemCount> kGroups = {{
        {Subsystem::kSupplies,
         "supplies",
         {"Batt_V", "Ext_V", "p27_V1", "p15_V", "n15_V", "p5_V", "p3p3_V", "p27_V2"}},
        {Subsystem::kSignals,
         "signals",
         {"f5M1_V", "f5M2_V", "f5MI_V", "f10M_V", "f100M_V", "f20p4M_V", "IF_V"}},
        {Subsystem::kVacuum, "vacuum", {"Ion_kV", "Ion_uA"}},
        {Subsystem::kHydrogen,
         "hydrogen",
         {"H2_atm", "H2_V", "Pure_V", "Pure_A", "HFO_A", "HFO_V", "Disch_V"}},
        {Subsystem::kOvens, "ovens", {"CSide_V", "CBtm_V", "H2_V"}},
        {Subsystem::kFll,
         "FLL",
         {"2H_V", "CCoarse", "OCoarse", "CFine", "OFine", "FFCorrH", "FFCorrL", "AuxFLL1",
          "AuxFLL2", "AuxFLL4"}},
    }};
    return kGroups;
}

const char* subsystem_name(Subsystem subsystem) {
    return subsystem_channels()[static_cast<std::size_t>(subsystem)].name;
}

const SubsystemChannels* subsystem_named(std::string_view name) {
    for (const SubsystemChannels& group : subsystem_channels()) {
        if (same_ignoring_case(name, group.name)) {
            return &group;
        }
    }
    return nullptr;
}

unsigned subsystems_of_row(int row) {
    // Looked up by name once: the analysis asks for every finding.
    static const std::array<unsigned, kChannelCount> kBits = [] {
        std::array<unsigned, kChannelCount> bits{};
        for (const SubsystemChannels& group : subsystem_channels()) {
            for (const char* channel : group.channels) {
                bits[static_cast<std::size_t>(channel_row_named(channel))] |=
                    1u << static_cast<unsigned>(group.subsystem);
            }
        }
        return bits;
    }();
    return row >= 0 && row < kChannelCount ? kBits[static_cast<std::size_t>(row)] : 0;
}
