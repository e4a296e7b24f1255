// The one rule for recognising a Windows port name, "COM" and a number, at the
// start of a text. Every reader of such names (the port list, the Linux device
// mapping, the mode-string parser) applies it and adds only what its own
// context asks of the text after the digits.
#pragma once

#include <cstddef>
#include <cstdint>

struct ComName {
    // "COM" in any letter case and the decimal digits after it; 0 when the text
    // does not start with "COM" and a digit.
    std::size_t length = 0;
    // The value of the digits; -1 when there are none or they exceed 31 bits.
    std::int32_t number = -1;
    // Written as "COM%d" writes the number: no leading zero.
    bool plain = false;
};

ComName read_com_name(const char* text);
