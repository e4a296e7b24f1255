#include "h2mon/win32/posix/port_names.h"
#include "h2mon/win32/com_name.h"

#include <cstdio>
#include <cstdlib>

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

bool fits(int written, std::size_t size) {
    return written > 0 && static_cast<std::size_t>(written) < size;
}

} // namespace

bool com_name_to_tty(const char* com_name, char* tty_name, std::size_t size) {
    const ComName com = read_com_name(com_name);
    if (com.length == 0 || com_name[com.length] != '\0' || !com.plain) {
        return false;
    }
    const int number = com.number;
    for (const Family& family : kFamilies) {
        if (number >= family.first_com && number < family.first_com + kFamilySize) {
            return fits(
                std::snprintf(tty_name, size, "%s%d", family.prefix, number - family.first_com),
                size);
        }
    }
    return false;
}
