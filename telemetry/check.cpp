#include "telemetry/check.h"

#include <cstdio>
#include <cstdlib>

void h2_assert_fail(const char* expression, const char* file, int line) {
    std::fflush(stdout);
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
    std::fflush(stderr);
    std::abort();
}
