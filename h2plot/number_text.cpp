#include "h2plot/number_text.h"

#include <charconv>
#include <cmath>

void append_number(std::string& out, double value, int decimals) {
    char text[400];
    const double rounded_zero = 0.5 * std::pow(10.0, -decimals);
    if (std::fabs(value) < rounded_zero) {
        value = 0;
    }
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out.append(text, result.ptr);
}

std::string number_text(double value, int decimals) {
    std::string text;
    append_number(text, value, decimals);
    return text;
}

std::string rough_text(double value) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 3);
    return std::string(text, result.ptr);
}
