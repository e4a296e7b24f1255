// Character classes shared by the message source, the option parser and the
// serial port.
#pragma once

// The C locale's white space: space, tab, line feed, vertical tab, form feed,
// carriage return. Locale-independent, and safe for bytes above 127.
inline bool is_white_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
