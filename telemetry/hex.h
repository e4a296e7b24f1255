// Hexadecimal digits as h2mon writes bytes (two upper-case digits a byte) and
// as every program reads them back (either case).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value of one hexadecimal digit, in either case; -1 for any other character.
constexpr int hex_digit_value(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

// The two digits of `byte` at `two`.
inline void put_hex_byte(std::uint8_t byte, char* two) {
    two[0] = kHexDigits[byte >> 4];
    two[1] = kHexDigits[byte & 0x0F];
}

// `count` bytes as digits, in the order given.
inline void append_hex(std::string& text, const std::uint8_t* bytes, std::size_t count) {
    char two[2];
    for (std::size_t i = 0; i < count; ++i) {
        put_hex_byte(bytes[i], two);
        text.append(two, 2);
    }
}
