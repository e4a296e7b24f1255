// What h2mon prints, made comparable: golden files, masked timestamps, frames.
#pragma once

#include "tests/e2e/maser_line.h"

#include <string>
#include <vector>

namespace e2e {

// A file of tests/e2e/golden/.
std::string golden(const std::string& name);
std::string golden_path(const std::string& name);

// The frames of golden/frames.txt, in order.
std::vector<Bytes> golden_frames();

// Output with every timestamp (the MJD starting a CSV row, the value of the MJD
// element of a JSON-like block) replaced by "<MJD>", and the timestamps taken out.
struct Masked {
    std::string text;
    std::vector<double> mjds;
};
Masked mask_mjds(const std::string& output);

// The lines of a CSV text with their timestamps masked: a record on standard
// output and its row in the log, each with a clock reading of its own, compare
// equal.
std::vector<std::string> unstamped_rows(const std::string& text);

// The current UTC time as a Modified Julian Date.
double mjd_now();

using h2test::from_hex;
using h2test::hex;

// The lines of a text, each without its line end; a last line without one is kept.
std::vector<std::string> lines_of(const std::string& text);
// Complete lines in a text.
std::size_t line_count(const std::string& text);

// Replaces every `placeholder` in `text` with `value`.
void replace_all(std::string& text, const std::string& placeholder, const std::string& value);

// The output of a diagnostic of the command line: the usage text ("{usage}",
// to be filled in) after an empty line, then an empty line and the message.
std::string diagnostic(const std::string& message);

} // namespace e2e
