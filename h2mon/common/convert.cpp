#include "h2mon/common/convert.h"
#include "h2mon/common/kvmem.h"
#include "h2mon/common/text.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Copies text without the runs of spaces that more text follows; spaces at the
// very end stay. Only the space itself is squeezed out, not other white space.
void squeeze_inner_spaces(const char* text, char* out) {
    while (*text != '\0') {
        if (*text == ' ') {
            const char* run_end = text + std::strspn(text, " ");
            if (*run_end != '\0') {
                text = run_end;
                continue;
            }
        }
        *out++ = *text++;
    }
    *out = '\0';
}

double scan_double(const char* text, double otherwise) {
    double value = otherwise;
    (void)std::sscanf(text, "%lf", &value);
    return value;
}

double evaluate(const char* text) {
    if (const char* slash = std::strchr(text, '/')) {
        const double divisor = scan_double(slash + 1, 1.0);
        return std::fabs(divisor) >= 1e-30 ? scan_double(text, 0.0) / divisor : 0.0;
    }
    if (const char* star = std::strchr(text, '*')) {
        return scan_double(text, 0.0) * scan_double(star + 1, 0.0);
    }
    return scan_double(text, 0.0);
}

} // namespace

bool parsebool(const char* text) {
    if (text == nullptr) {
        return true;
    }
    while (is_white_space(*text)) {
        ++text;
    }
    return !(*text == '0' || *text == 'f' || *text == 'F');
}

double parsedouble(const char* text) {
    if (text == nullptr) {
        return 0.0;
    }
    char* squeezed = static_cast<char*>(kv_alloc(std::strlen(text) + 1));
    if (squeezed == nullptr) {
        return 0.0;
    }
    squeeze_inner_spaces(text, squeezed);
    const double result = evaluate(squeezed);
    kv_free(squeezed);
    return result;
}

bool parseint(const char* text, int* value) {
    *value = 0;
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    // Accumulated as a magnitude, so that INT_MIN fits too.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit) {
            return false;
        }
    }
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}
