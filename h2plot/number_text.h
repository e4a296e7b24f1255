// Numbers written into pictures and pages. std::to_chars gives the same digits
// on every build (the Windows C runtime's printf rounds differently), so the
// Linux and Windows programs write the same bytes.
#pragma once

#include <string>

// `value` with `decimals` digits after the point; never "-0".
void append_number(std::string& out, double value, int decimals);

std::string number_text(double value, int decimals);

// `value` to three significant digits, for slopes and the like: "3.12",
// "0.000451", "1.2e+03".
std::string rough_text(double value);
