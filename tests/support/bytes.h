// Bytes on the line, and their text as upper-case hexadecimal digits (as h2mon's
// HEX form and the simulator's frame files write them).
#pragma once

#include <string>
#include <vector>

namespace h2test {

using Bytes = std::vector<unsigned char>;

std::string hex(const Bytes& bytes);
// The bytes of a text of hexadecimal digit pairs; other characters are skipped.
Bytes from_hex(const std::string& digits);

} // namespace h2test
