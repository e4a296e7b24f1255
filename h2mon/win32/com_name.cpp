#include "h2mon/win32/com_name.h"

#include <cctype>

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool starts_with_com(const char* text) {
    const char* com = "COM";
    for (; *com != '\0'; ++com, ++text) {
        if (std::toupper(static_cast<unsigned char>(*text)) != *com) {
            return false;
        }
    }
    return true;
}

} // namespace

ComName read_com_name(const char* text) {
    ComName name;
    if (!starts_with_com(text) || !is_digit(text[3])) {
        return name;
    }
    const char* digits = text + 3;
    std::int64_t number = 0;
    std::size_t count = 0;
    for (; is_digit(digits[count]); ++count) {
        if (number <= INT32_MAX) {
            number = number * 10 + (digits[count] - '0');
        }
    }
    name.length = 3 + count;
    name.number = number <= INT32_MAX ? static_cast<std::int32_t>(number) : -1;
    name.plain = digits[0] != '0' || count == 1;
    return name;
}
