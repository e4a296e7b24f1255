#include "platform/linux/port_names.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Family {
    const char* prefix; // device name before its number
    int first_com;      // COM number of device number 0
};

constexpr int kFamilySize = 32;
constexpr Family kFamilies[] = {
    {"ttyS", 1},
    {"ttyUSB", 33},
    {"ttyACM", 65},
    {"ttyAMA", 97},
};

// Parses a plain decimal number (no sign, no leading zero unless it is "0") that
// makes up the whole text. Returns -1 otherwise.
int parse_plain_number(const char* text) {
    if (!std::isdigit(static_cast<unsigned char>(text[0])) || (text[0] == '0' && text[1] != '\0')) {
        return -1;
    }
    int value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p)) || value > 100000) {
            return -1;
        }
        value = value * 10 + (*p - '0');
    }
    return value;
}

bool has_prefix_nocase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++prefix, ++text) {
        if (std::toupper(static_cast<unsigned char>(*text)) !=
            std::toupper(static_cast<unsigned char>(*prefix))) {
            return false;
        }
    }
    return true;
}

bool fits(int written, std::size_t size) {
    return written > 0 && static_cast<std::size_t>(written) < size;
}

} // namespace

bool com_name_to_tty(const char* com_name, char* tty_name, std::size_t size) {
    if (!has_prefix_nocase(com_name, "COM")) {
        return false;
    }
    const int number = parse_plain_number(com_name + 3);
    for (const Family& family : kFamilies) {
        if (number >= family.first_com && number < family.first_com + kFamilySize) {
            return fits(
                std::snprintf(tty_name, size, "%s%d", family.prefix, number - family.first_com),
                size);
        }
    }
    return false;
}

bool tty_to_com_name(const char* tty_name, char* com_name, std::size_t size) {
    for (const Family& family : kFamilies) {
        const std::size_t length = std::strlen(family.prefix);
        if (std::strncmp(tty_name, family.prefix, length) != 0) {
            continue;
        }
        const int number = parse_plain_number(tty_name + length);
        if (number >= 0 && number < kFamilySize) {
            return fits(std::snprintf(com_name, size, "COM%d", family.first_com + number), size);
        }
    }
    return false;
}
