#include "telemetry/check.h"

#include <gtest/gtest.h>

namespace {

int invariant_holds(int b0, int b1) {
    H2_ASSERT(b1 - b0 == 1);
    return b1;
}

TEST(CheckDeathTest, FailedAssertionNamesExpressionFileAndLineThenAborts) {
    EXPECT_EQ(invariant_holds(4, 5), 5);
    const int expected_line = __LINE__ - 6; // the H2_ASSERT line above
    const std::string pattern = "Assertion failed: b1 - b0 == 1, file check_test\\.cpp, line " +
                                std::to_string(expected_line);
    EXPECT_DEATH(invariant_holds(4, 6), pattern);
}

} // namespace
