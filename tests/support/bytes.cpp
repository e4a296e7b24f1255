#include "tests/support/bytes.h"

#include <cctype>

namespace h2test {

std::string hex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

Bytes from_hex(const std::string& digits) {
    Bytes bytes;
    std::string pair;
    for (char c : digits) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            pair += c;
        }
        if (pair.size() == 2) {
            bytes.push_back(static_cast<unsigned char>(std::stoi(pair, nullptr, 16)));
            pair.clear();
        }
    }
    return bytes;
}

} // namespace h2test
