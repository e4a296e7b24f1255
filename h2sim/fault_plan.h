// Which faults the simulated maser shows on which answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What to do wrong on one answer. The default is a correct answer.
struct Faults {
    long late_ms = 0;      // the answer starts this much later
    int chunk_bytes = 0;   // > 0: the answer goes out in chunks of this size...
    long gap_ms = 0;       // ...with this pause between them
    int short_bytes = -1;  // >= 0: only this many bytes of the answer go out
    bool silent = false;   // no answer at all
    int corrupt_bytes = 0; // this many bytes of the frame are changed
    int stray_bytes = 0;   // random bytes sent right after the answer
    int noise_bytes = 0;   // random bytes sent between this answer and the next poll
    long hold_back_ms = 0; // > 0: the bytes pass a USB adapter with this latency timer
    // "full" for a correct answer, else the faults as tags joined by '+', e.g.
    // "late:300+stray:2".
    std::string describe() const;
};

enum class FaultKind { Late, Gaps, Short, Silent, Corrupt, Stray, Noise, HoldBack };

// One fault option: its kind, its values, and how often it applies (every
// `every`th poll: polls every, 2 * every, ...).
struct FaultRule {
    FaultKind kind;
    long value = 0;
    long value2 = 0;
    std::uint64_t every = 1;
};

// Parses a fault option's argument: "VALUE[@N]", "CHUNK:MS[@N]" for gaps, and
// "[N]" or "@N" for silent (an empty text meaning every poll). Fails with a reason on
// a missing or out-of-range value.
bool parse_fault_rule(FaultKind kind, const std::string& text, FaultRule& rule, std::string& error);

// The fault options together with random faults ("chaos"): with probability
// `chaos`, an answer also gets one fault of a random kind with random values.
// Deterministic for a seed and a poll number.
class FaultPlan {
public:
    explicit FaultPlan(std::uint64_t seed = 1) : seed_(seed) {}

    void add(const FaultRule& rule) { rules_.push_back(rule); }
    void set_chaos(double probability) { chaos_ = probability; }

    Faults faults_for(std::uint64_t poll) const;

private:
    void add_chaos(std::uint64_t poll, Faults& faults) const;

    std::uint64_t seed_;
    std::vector<FaultRule> rules_;
    double chaos_ = 0.0;
};
