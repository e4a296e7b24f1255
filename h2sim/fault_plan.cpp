#include "h2sim/fault_plan.h"

#include "h2sim/frame_model.h"
#include "h2sim/random.h"

#include <cerrno>
#include <cstdlib>

namespace {

constexpr long kMaxDelayMs = 60000;
constexpr long kMaxExtraBytes = 4096;
constexpr long kMaxEvery = 1000000000L;
constexpr long kMaxLatencyMs = 1000;

// Applies one rule's values to an answer's faults.
void apply(const FaultRule& rule, Faults& faults) {
    switch (rule.kind) {
    case FaultKind::Late:
        faults.late_ms = rule.value;
        break;
    case FaultKind::Gaps:
        faults.chunk_bytes = static_cast<int>(rule.value);
        faults.gap_ms = rule.value2;
        break;
    case FaultKind::Short:
        faults.short_bytes = static_cast<int>(rule.value);
        break;
    case FaultKind::Silent:
        faults.silent = true;
        break;
    case FaultKind::Corrupt:
        faults.corrupt_bytes = static_cast<int>(rule.value);
        break;
    case FaultKind::Stray:
        faults.stray_bytes = static_cast<int>(rule.value);
        break;
    case FaultKind::Noise:
        faults.noise_bytes = static_cast<int>(rule.value);
        break;
    case FaultKind::HoldBack:
        faults.hold_back_ms = rule.value;
        break;
    }
}

// A whole decimal number in lo..hi taking all of `text`.
bool parse_number(const std::string& text, long lo, long hi, long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value >= lo && value <= hi;
}

struct Range {
    long lo;
    long hi;
    const char* what;
};

Range value_range(FaultKind kind) {
    switch (kind) {
    case FaultKind::Late:
        return {0, kMaxDelayMs, "a delay of 0 to 60000 ms"};
    case FaultKind::Gaps:
        return {1, kFrameLength, "a chunk size of 1 to 189 bytes"};
    case FaultKind::Short:
        return {0, kFrameLength - 1, "a byte count of 0 to 188"};
    case FaultKind::Corrupt:
        return {1, kFrameLength, "a byte count of 1 to 189"};
    case FaultKind::HoldBack:
        return {1, kMaxLatencyMs, "a latency of 1 to 1000 ms"};
    case FaultKind::Silent:
    case FaultKind::Stray:
    case FaultKind::Noise:
        break;
    }
    return {1, kMaxExtraBytes, "a byte count of 1 to 4096"};
}

bool parse_every(const std::string& text, std::uint64_t& every) {
    long value = 0;
    if (!parse_number(text, 1, kMaxEvery, value)) {
        return false;
    }
    every = static_cast<std::uint64_t>(value);
    return true;
}

// The values before any '@': CHUNK:MS for gaps, one number for the others.
bool parse_values(const std::string& text, FaultRule& rule) {
    const Range range = value_range(rule.kind);
    if (rule.kind != FaultKind::Gaps) {
        return parse_number(text, range.lo, range.hi, rule.value);
    }
    const std::size_t colon = text.find(':');
    return colon != std::string::npos &&
           parse_number(text.substr(0, colon), range.lo, range.hi, rule.value) &&
           parse_number(text.substr(colon + 1), 0, kMaxDelayMs, rule.value2);
}

} // namespace

std::string Faults::describe() const {
    std::string tags;
    auto tag = [&tags](const std::string& text) { tags += (tags.empty() ? "" : "+") + text; };
    if (late_ms > 0) {
        tag("late:" + std::to_string(late_ms));
    }
    if (chunk_bytes > 0) {
        tag("gaps:" + std::to_string(chunk_bytes) + "/" + std::to_string(gap_ms));
    }
    if (short_bytes >= 0) {
        tag("short:" + std::to_string(short_bytes));
    }
    if (silent) {
        tag("silent");
    }
    if (corrupt_bytes > 0) {
        tag("corrupt:" + std::to_string(corrupt_bytes));
    }
    if (stray_bytes > 0) {
        tag("stray:" + std::to_string(stray_bytes));
    }
    if (noise_bytes > 0) {
        tag("noise:" + std::to_string(noise_bytes));
    }
    if (hold_back_ms > 0) {
        tag("hold:" + std::to_string(hold_back_ms));
    }
    return tags.empty() ? "full" : tags;
}

bool parse_fault_rule(FaultKind kind, const std::string& text, FaultRule& rule,
                      std::string& error) {
    rule = FaultRule{kind};
    if (kind == FaultKind::Silent) {
        // Only how often, with or without the '@' the other faults put before it.
        const std::string every = !text.empty() && text[0] == '@' ? text.substr(1) : text;
        if (!text.empty() && !parse_every(every, rule.every)) {
            error = "'" + text + "': expected how often, a whole number of at least 1";
            return false;
        }
        return true;
    }
    const std::size_t at = text.find('@');
    if (at != std::string::npos && !parse_every(text.substr(at + 1), rule.every)) {
        error = "'" + text + "': after '@', expected how often, a whole number of at least 1";
        return false;
    }
    if (!parse_values(text.substr(0, at), rule)) {
        const Range range = value_range(kind);
        error = "'" + text + "': expected " +
                (kind == FaultKind::Gaps
                     ? std::string("CHUNK:MS, ") + range.what + " and a pause of 0 to 60000 ms"
                     : range.what);
        return false;
    }
    return true;
}

Faults FaultPlan::faults_for(std::uint64_t poll) const {
    Faults faults;
    for (const FaultRule& rule : rules_) {
        if (poll % rule.every == 0) {
            apply(rule, faults);
        }
    }
    if (chaos_ > 0.0) {
        add_chaos(poll, faults);
    }
    if (faults.silent) {
        // Nothing goes out, so nothing can be late, cut, chunked or followed.
        faults.late_ms = 0;
        faults.chunk_bytes = 0;
        faults.gap_ms = 0;
        faults.short_bytes = -1;
        faults.stray_bytes = 0;
    }
    return faults;
}

// The random fault's values span both faults the program rides out (a short
// delay, short pauses) and faults it cannot (delays past its one-second wait,
// pauses past its 100 ms limit).
void FaultPlan::add_chaos(std::uint64_t poll, Faults& faults) const {
    Random random(hash_key(seed_, 0xC4A05, poll));
    if (random.uniform() >= chaos_) {
        return;
    }
    // Any kind but the adapter's hold-back, which is no fault of an answer.
    FaultRule rule{static_cast<FaultKind>(random.range(0, 6))};
    switch (rule.kind) {
    case FaultKind::Late:
        rule.value = random.range(50, 1500);
        break;
    case FaultKind::Gaps:
        rule.value = random.range(1, 64);
        rule.value2 = random.range(5, 250);
        break;
    case FaultKind::Short:
        rule.value = random.range(0, kFrameLength - 1);
        break;
    case FaultKind::Corrupt:
        rule.value = random.range(1, 4);
        break;
    case FaultKind::Silent:
    case FaultKind::Stray:
    case FaultKind::Noise:
    case FaultKind::HoldBack:
        rule.value = random.range(1, 8);
        break;
    }
    apply(rule, faults);
}
