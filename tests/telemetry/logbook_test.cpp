// The logbook: lines an operator types, what each entry concerns, and the
// errors that name a bad line while the rest is still read.
#include "telemetry/logbook.h"

#include "telemetry/channels.h"
#include "telemetry/time_text.h"

#include <gtest/gtest.h>

namespace {

bool concerns(const LogbookEntry& entry, const char* channel) {
    return entry.concerns(channel_row_named(channel));
}

TEST(Logbook, EntriesGiveTheirTimeWhatTheyConcernAndWhatWasDone) {
    const struct {
        const char* line;
        const char* time; // UTC, to the second
        const char* concerned;
        const char* not_concerned;
        bool note;
        const char* what;
    } cases[] = {
        {"2026-12-10 14:05 hydrogen: new bottle fitted, 150 bar", "2026-12-10 14:05:00", "H2_atm",
         "Ion_uA", false, "new bottle fitted, 150 bar"},
        {"2026-12-10T14:05:30Z ovens, FLL: cavity tuned", "2026-12-10 14:05:30", "CCoarse",
         "H2_atm", false, "cavity tuned"},
        {"2026-12-10\t14:05  ion_uA,Ion_kV:pump elements replaced", "2026-12-10 14:05:00", "Ion_kV",
         "CSide_V", false, "pump elements replaced"},
        {"61384.5 all: moved to the new hall", "2026-12-10 12:00:00", "p5_V", "Rsvd2", false,
         "moved to the new hall"},
        {"2026-12-10 note supplies: mains cut for 20 min", "2026-12-10 00:00:00", "Batt_V",
         "f5M1_V", true, "mains cut for 20 min"},
        {"2026-12-10 09:00 note: visit of the board", "2026-12-10 09:00:00", nullptr, "Batt_V",
         true, "visit of the board"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> errors;
        const std::vector<LogbookEntry> entries = read_logbook(c.line, "east.logbook", errors);
        ASSERT_TRUE(errors.empty()) << errors.front();
        ASSERT_EQ(entries.size(), 1u) << c.line;
        const LogbookEntry& e = entries[0];
        EXPECT_EQ(utc_text(micro_days(e.mjd), 6), c.time) << c.line;
        if (c.concerned != nullptr) {
            EXPECT_TRUE(concerns(e, c.concerned)) << c.line;
        }
        EXPECT_FALSE(concerns(e, c.not_concerned)) << c.line;
        EXPECT_EQ(e.note, c.note) << c.line;
        EXPECT_EQ(e.what, c.what) << c.line;
        EXPECT_EQ(e.from, "east.logbook:1");
    }
}

TEST(Logbook, BadLinesAreNamedAndTheOthersReadInTimeOrder) {
    std::vector<std::string> errors;
    const std::vector<LogbookEntry> entries =
        read_logbook("# east's logbook\n"
                     "2026-12-12 08:00 vacuum: pump elements replaced\n"
                     "new bottle\n"
                     "2026-12-10 14:05 hydrogen new bottle\n"
                     "2026-12-10 14:05 plumbing: new bottle\n"
                     "2026-12-10 14:05 : new bottle\n"
                     "2026-12-10 14:05 hydrogen:   \n"
                     "2026-13-10 14:05 hydrogen: new bottle\n"
                     "\n"
                     "2026-12-10 14:05 hydrogen: new bottle\n",
                     "/var/log/h2mon/east.logbook", errors);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].what, "new bottle"); // the earlier, written later
    EXPECT_EQ(entries[0].from, "/var/log/h2mon/east.logbook:10");
    EXPECT_EQ(entries[1].what, "pump elements replaced");
    const char* expected[] = {
        ":3: no time at the start",       ":4: no colon after what the entry concerns",
        ":5: \"plumbing\" is no subject", ":6: no subject before the colon",
        ":7: nothing after the colon",    ":8: no time at the start",
    };
    ASSERT_EQ(errors.size(), std::size(expected));
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_EQ(errors[i].rfind(std::string("/var/log/h2mon/east.logbook") + expected[i], 0), 0u)
            << errors[i];
    }
}

} // namespace
