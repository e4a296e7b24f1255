// One line of h2mon's CSV output: the MJD followed by the fields of the 43
// shown channels, in table order, as h2mon writes it and as the companion
// programs read it. A log file holds such rows only; h2mon's standard output
// also has its header line.
#pragma once

#include "telemetry/channels.h"

#include <cstdint>
#include <string>
#include <string_view>

enum class LogLine {
    kRow,       // the MJD and 43 fields, the MJD a finite number
    kHeader,    // the CSV header line ("MJD,Batt_V,...")
    kMalformed, // anything else: wrong field count, an MJD that is no number
};

// Splitting a line checks its shape only; a channel's value is parsed when it
// is asked for, so a reader that wants four channels parses four fields.
class LogRow {
public:
    // Reads `line`, given without its "\n" (a trailing "\r" is ignored). The
    // fields refer into `line`, which must outlive their use.
    LogLine parse(std::string_view line);

    // The timestamp of the row, a Modified Julian Date (UTC).
    double mjd() const { return mjd_; }
    // The MJD as printed, for readers that need its digits exactly.
    std::string_view mjd_text() const { return field(0); }

    // The field of table row `row` (a shown row, 1 to kLastChannel) as printed.
    std::string_view field(int row) const {
        return {line_ + starts_[row], starts_[row + 1] - starts_[row] - 1};
    }

    // The field's value: a measurement's decimal number as printed, or a code's
    // hexadecimal digits (most significant byte first) as an unsigned number.
    // False when the field is not such a number: not a finite decimal, not
    // exactly two digits per byte of the span, or a code wider than 52 bits,
    // which a double cannot hold exactly.
    bool value(int row, double* value) const;

    // True when every shown field has the form h2mon prints: a decimal number
    // for a measurement, two hexadecimal digits per byte for the others.
    bool fields_well_formed() const;

    // The same for the fields that are not measurements, for a reader that
    // parses every measurement anyway.
    bool codes_well_formed() const;

private:
    // A line this long is no row (h2mon's are about 470 bytes).
    static constexpr std::size_t kMaxRowBytes = 1 << 20;

    double mjd_ = 0;
    // Field k of the line is [starts_[k], starts_[k + 1] - 1): where it
    // starts, up to the comma before the next (or one past the line's end).
    // Offsets rather than views: a row is split millions of times a second,
    // and 45 small numbers are a quarter of the memory 44 views take.
    const char* line_ = nullptr;
    std::uint32_t starts_[kChannelCount + 1] = {};
};

// Parses a whole decimal number such as h2mon prints ("61384.290591",
// "-14.937"); false on anything else, including text around it, "nan" and "inf".
bool parse_decimal(std::string_view text, double* value);

// The decimal number `text` times 10^exponent, rounded once to a double:
// "50.781" with exponent -6 gives the double nearest to 50.781e-6, which
// parsing and then multiplying would miss.
bool parse_decimal(std::string_view text, int exponent, double* value);

// Writing, as h2mon prints its CSV form.

// "MJD,Batt_V,...,RsvdDT2": the header line, without its line end.
std::string csv_header();

// The MJD that starts a row: six decimals ("61384.290591").
std::string csv_mjd(double mjd);

// One shown channel's field after its comma: a measurement with three
// decimals (",27.069"), anything else as the span's bytes from its last
// position down to its first, two upper-case hexadecimal digits each.
void append_csv_field(std::string& text, const std::uint8_t* frame, const CHANNEL& channel);

// Every shown channel's field in table order: what follows the MJD in a row.
void append_csv_fields(std::string& text, const std::uint8_t* frame);
