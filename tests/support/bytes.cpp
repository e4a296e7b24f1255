#include "tests/support/bytes.h"

#include "telemetry/hex.h"

namespace h2test {

std::string hex(const Bytes& bytes) {
    std::string text;
    append_hex(text, bytes.data(), bytes.size());
    return text;
}

Bytes from_hex(const std::string& digits) {
    Bytes bytes;
    int high = -1;
    for (char c : digits) {
        const int value = hex_digit_value(c);
        if (value < 0) {
            continue;
        }
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<unsigned char>(high << 4 | value));
            high = -1;
        }
    }
    return bytes;
}

} // namespace h2test
