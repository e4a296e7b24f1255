// Runs code and returns what it printed on standard output.
#pragma once

#include <gtest/gtest.h>

#include <string>

template <class Code> std::string stdout_of(Code code) {
    testing::internal::CaptureStdout();
    code();
    return testing::internal::GetCapturedStdout();
}
