// The health of a maser from records made up for each case: the rules that
// rate the subsystems, the logbook's effect, codes, and records out of order.
#include "telemetry/maser_health.h"

#include "telemetry/channels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

constexpr double kStart = 61000;
constexpr double kMinute = 1.0 / 1440;

int row(const char* name) {
    return channel_row_named(name);
}

// Records a minute apart: every measurement in the middle of its normal band
// with a wobble of a hundredth of the band, every code at 8000; `shape`
// changes what a case needs.
using Shape = std::function<void(int minute, double* values)>;

void feed(MaserHealth& health, int first, int count, const Shape& shape = {}) {
    const LimitTable& limits = health.limits();
    double values[kChannelCount];
    for (int i = first; i < first + count; ++i) {
        for (int r = 0; r < kChannelCount; ++r) {
            const LimitRange& band = limits.of(r).normal;
            values[r] = band.closed() ? (band.low + band.high) / 2 +
                                            (band.high - band.low) / 100 * std::sin(i * 2.3 + r)
                                      : 0x8000;
        }
        if (shape) {
            shape(i, values);
        }
        health.add(kStart + i * kMinute, values);
    }
}

const SubsystemHealth& subsystem(const HealthReport& report, Subsystem s) {
    return report.subsystems[static_cast<std::size_t>(s)];
}

TEST(MaserHealth, AQuietMaserIsOkEverywhereSinceItsFirstRecord) {
    MaserHealth health(LimitTable::defaults());
    EXPECT_EQ(health.report().mjd, 0); // nothing yet
    feed(health, 0, 3 * 1440);
    const HealthReport report = health.report();
    EXPECT_EQ(report.level, HealthLevel::kOk);
    EXPECT_TRUE(report.findings.empty()) << report.findings[0].text;
    for (const SubsystemHealth& s : report.subsystems) {
        EXPECT_EQ(s.level, HealthLevel::kOk) << subsystem_name(s.subsystem);
        EXPECT_EQ(s.since_mjd, kStart) << subsystem_name(s.subsystem);
    }
    const ChannelState* side = report.channel(row("CSide_V"));
    ASSERT_NE(side, nullptr);
    EXPECT_TRUE(side->baseline.learned);
    EXPECT_TRUE(side->trend.known);
    EXPECT_EQ(side->trend.direction, Direction::kSteady);
    EXPECT_EQ(report.channel(row("Rsvd2")), nullptr);
}

TEST(MaserHealth, LevelsBeyondTheLimitsRateTheirSubsystemsWithTheirTimes) {
    MaserHealth health(LimitTable::defaults());
    // From minute 2000: the hydrogen pressure beyond its alarm limit, the +15 V
    // rail above its normal band (a step, too), the hydrogen source's oven (of
    // two subsystems) below this maser's own normal but within the fixed
    // limits (by less than a step worth reporting).
    feed(health, 0, 3000, [](int i, double* v) {
        if (i >= 2000) {
            v[row("H2_atm")] = 0.47;
            v[row("p15_V")] = 15.4;
            v[row("H2_V")] -= 0.8;
        }
    });
    const HealthReport report = health.report();
    const double changed = kStart + 2000 * kMinute;
    EXPECT_EQ(report.level, HealthLevel::kAlarm);
    const SubsystemHealth& hydrogen = subsystem(report, Subsystem::kHydrogen);
    EXPECT_EQ(hydrogen.level, HealthLevel::kAlarm);
    EXPECT_EQ(hydrogen.why.rfind("H2_atm at 0.47 atm, above its alarm limit 0.45 atm", 0), 0u)
        << hydrogen.why;
    EXPECT_NEAR(hydrogen.since_mjd, changed, 10 * kMinute);
    const SubsystemHealth& supplies = subsystem(report, Subsystem::kSupplies);
    EXPECT_EQ(supplies.level, HealthLevel::kAttention);
    // The oldest finding speaks for the subsystem: the step came first.
    EXPECT_EQ(supplies.why.rfind("p15_V stepped from 15", 0), 0u) << supplies.why;
    EXPECT_NE(supplies.why.find(" V to 15.4 V (+0."), std::string::npos) << supplies.why;
    EXPECT_NEAR(supplies.since_mjd, changed, kMinute / 2);
    const SubsystemHealth& ovens = subsystem(report, Subsystem::kOvens);
    EXPECT_EQ(ovens.level, HealthLevel::kAttention);
    EXPECT_EQ(ovens.why.rfind("H2_V at 5.7", 0), 0u) << ovens.why;
    EXPECT_NE(ovens.why.find(" V, below this maser's normal "), std::string::npos) << ovens.why;
    EXPECT_EQ(subsystem(report, Subsystem::kSignals).level, HealthLevel::kOk);
    // Five findings (the pressure stepped too), the alarm first.
    ASSERT_EQ(report.findings.size(), 5u);
    EXPECT_EQ(report.findings[0].kind, FindingKind::kBeyondAlarm);
    EXPECT_EQ(report.findings[0].row, row("H2_atm"));
    EXPECT_EQ(report.findings[3].text, "p15_V at 15.4 V, above its normal band 14.7..15.3 V");
}

TEST(MaserHealth, ALevelBackInItsBandClearsItsSubsystemFromThen) {
    MaserHealth health(LimitTable::defaults());
    // The purifier's current above its band for a while (not watched for steps).
    feed(health, 0, 3000, [](int i, double* v) {
        if (i >= 2000 && i < 2500) {
            v[row("Pure_A")] = 1.2;
        }
    });
    const HealthReport report = health.report();
    const SubsystemHealth& hydrogen = subsystem(report, Subsystem::kHydrogen);
    EXPECT_EQ(hydrogen.level, HealthLevel::kOk);
    EXPECT_NEAR(hydrogen.since_mjd, kStart + 2500 * kMinute, 10 * kMinute);
    EXPECT_EQ(subsystem(report, Subsystem::kSupplies).since_mjd, kStart);
}

// A new bottle: the pressure falls for three days, then jumps. Without an
// entry the jump is an unexplained step and the fall before it a forecast;
// with one, the step is explained and the hydrogen's history starts again.
TEST(MaserHealth, ALogbookEntryExplainsItsStepsAndStartsItsChannelsAgain) {
    const int bottle = 3 * 1440;
    const Shape emptying = [](int i, double* v) {
        v[row("H2_atm")] = i < bottle ? 0.38 - 0.03 * i / 1440.0 : 0.38;
    };
    const double fitted = kStart + bottle * kMinute;
    std::vector<std::string> errors;
    const std::vector<LogbookEntry> entries =
        read_logbook("2026-12-12 08:00 note supplies: mains cut\n" // another subject
                     "61003 hydrogen: new bottle fitted\n"
                     "61003.01 note ovens: door left open\n",
                     "east.logbook", errors);
    ASSERT_TRUE(errors.empty());

    MaserHealth without(LimitTable::defaults());
    feed(without, 0, bottle + 600, emptying);
    const HealthReport before = without.report();
    ASSERT_EQ(before.steps.size(), 1u);
    EXPECT_TRUE(before.steps[0].explained_by.empty());
    EXPECT_NEAR(before.steps[0].mjd, fitted, kMinute / 2);
    EXPECT_EQ(subsystem(before, Subsystem::kHydrogen).level, HealthLevel::kAttention);

    for (const bool late : {false, true}) {
        MaserHealth with(LimitTable::defaults());
        if (!late) {
            for (const LogbookEntry& e : entries) {
                with.add_logbook_entry(e);
            }
        }
        feed(with, 0, bottle + 300, emptying);
        if (late) { // written in after the fact
            for (const LogbookEntry& e : entries) {
                with.add_logbook_entry(e);
            }
        }
        feed(with, bottle + 300, 300, emptying);
        const HealthReport after = with.report();
        ASSERT_EQ(after.steps.size(), 1u) << late;
        EXPECT_EQ(after.steps[0].explained_by, "2025-11-24 00:00 hydrogen: new bottle fitted");
        const ChannelState* h2 = after.channel(row("H2_atm"));
        EXPECT_EQ(h2->start_mjd, fitted) << late;
        EXPECT_FALSE(h2->baseline.learned) << late; // learning the new bottle's normal
        EXPECT_FALSE(h2->trend.known) << late;
        EXPECT_EQ(subsystem(after, Subsystem::kHydrogen).level, HealthLevel::kOk) << late;
        // A note starts nothing again.
        EXPECT_TRUE(after.channel(row("CSide_V"))->baseline.learned) << late;
    }
}

TEST(MaserHealth, CodesTheTableWatchesStepAtEveryChange) {
    LimitTable limits = LimitTable::defaults();
    std::vector<std::string> errors;
    limits.read("CCoarse - - 1\nOFine - - -\n", "east.limits", errors);
    MaserHealth health(limits);
    const std::vector<int>& rows = health.rows();
    EXPECT_NE(std::find(rows.begin(), rows.end(), row("CCoarse")), rows.end());
    EXPECT_EQ(std::find(rows.begin(), rows.end(), row("OFine")), rows.end());
    EXPECT_EQ(std::find(rows.begin(), rows.end(), row("AuxFLL1")), rows.end());
    feed(health, 0, 2000, [](int i, double* v) { v[row("CCoarse")] = i < 1500 ? 0x8000 : 0x8010; });
    const HealthReport report = health.report();
    ASSERT_EQ(report.steps.size(), 1u);
    const SubsystemHealth& fll = subsystem(report, Subsystem::kFll);
    EXPECT_EQ(fll.level, HealthLevel::kAttention);
    EXPECT_EQ(fll.why, "CCoarse stepped from 8000 to 8010 at 2025-11-22 01:00 UTC, not explained "
                       "by the logbook");
}

TEST(MaserHealth, ARecordOlderThanTheOneBeforeIsLeftOutAndCounted) {
    MaserHealth health(LimitTable::defaults());
    feed(health, 100, 10);
    double values[kChannelCount];
    std::fill(std::begin(values), std::end(values), 99.0);
    health.add(kStart, values);
    EXPECT_EQ(health.out_of_order(), 1u);
    EXPECT_NE(health.report().channel(row("Ion_uA"))->value, 99);
}

} // namespace
