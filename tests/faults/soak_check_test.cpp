// The soak's judge: it must catch a shifted, invented, repeated or reordered
// record and a clean frame that went unprinted, or the soak proves nothing.
#include "tests/faults/soak_check.h"

#include "telemetry/channels.h"

#include <gtest/gtest.h>

namespace faults {
namespace {

Bytes frame(int number) {
    Bytes bytes(kFrameLength);
    for (int i = 0; i < kFrameLength; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(number * 37 + i * 11);
    }
    return bytes;
}

LoggedExchange exchange(std::uint64_t poll, const char* actions, int sent, bool clean) {
    return {poll, actions, sent, clean, frame(static_cast<int>(poll))};
}

TEST(SoakCheck, CsvFieldsFollowTheChannelTable) {
    Bytes bytes(kFrameLength, 0);
    bytes[2] = 0x34; // Batt_V, positions 4 and 5: raw 0x1234
    bytes[3] = 0x12;
    bytes[66] = 0x01; // RsvdDT1, positions 68 to 127: the last position first
    bytes[125] = 0xAB;
    const std::vector<std::string> fields = csv_fields(bytes);
    ASSERT_EQ(fields.size(), 43u);
    EXPECT_EQ(fields[0], "76.126");                             // 4660 * 0.016336
    EXPECT_EQ(fields[28], "-2.000");                            // H2_atm at raw 0
    EXPECT_EQ(fields[30], "AB" + std::string(116, '0') + "01"); // RsvdDT1
    EXPECT_EQ(fields_after_timestamp("60369.5,1.000,AB"),
              (std::vector<std::string>{"1.000", "AB"}));
}

TEST(SoakCheck, EveryRecordMustBeAWholeFrameInTurnAndNoCleanFrameMissing) {
    const std::vector<LoggedExchange> log = {
        exchange(1, "full", 189, true),     // taken as the first frame, not printed
        exchange(2, "full", 189, true),     //
        exchange(3, "stray:2", 189, false), // may or may not be printed
        exchange(4, "short:100", 100, false), exchange(5, "full", 189, true),
    };
    const Bytes second = frame(2);
    Bytes shifted(second.begin() + 3, second.end());
    shifted.insert(shifted.end(), {1, 2, 3});
    struct Case {
        const char* what;
        std::vector<Bytes> printed;
        std::size_t strays;
        std::vector<std::uint64_t> missing;
    };
    const Case cases[] = {
        {"every clean frame", {frame(2), frame(5)}, 0, {}},
        {"with the dirty one and the first", {frame(1), frame(2), frame(3), frame(5)}, 0, {}},
        {"a shifted frame", {frame(2), shifted, frame(5)}, 1, {}},
        {"a frame never sent whole", {frame(2), frame(4), frame(5)}, 1, {}},
        {"a frame printed twice", {frame(2), frame(2), frame(5)}, 1, {}},
        {"frames out of order", {frame(5), frame(2)}, 1, {2}},
        {"a clean frame lost", {frame(2)}, 0, {5}},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<std::string>> records;
        for (const Bytes& bytes : c.printed) {
            records.push_back(csv_fields(bytes));
        }
        const Verdict verdict = judge(log, records);
        EXPECT_EQ(verdict.strays.size(), c.strays) << c.what;
        EXPECT_EQ(verdict.missing, c.missing) << c.what;
        EXPECT_EQ(verdict.required, 2u) << c.what;
    }
}

TEST(SoakCheck, FaultsAreCountedByKind) {
    const std::vector<LoggedExchange> log = {exchange(1, "full", 189, true),
                                             exchange(2, "late:300+stray:2", 189, false),
                                             exchange(3, "stray:5", 189, false)};
    const std::map<std::string, std::size_t> expected = {{"full", 1}, {"late", 1}, {"stray", 2}};
    EXPECT_EQ(fault_counts(log), expected);
}

} // namespace
} // namespace faults
