// Scanning a signed 64-bit decimal number the way the Windows C runtime's
// "%I64d" does; Linux's C library spells the same conversion "%lld".
#pragma once

#include <cstdint>

// Scans text with the 64-bit "%d" conversion (leading white space, an optional
// sign, decimal digits). Returns true and sets *value when a number was read;
// otherwise leaves *value unchanged.
bool scan_int64(const char* text, std::int64_t* value);
