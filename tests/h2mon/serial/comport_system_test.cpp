// The port through the system's own calls, on every system it is built for.
#include "h2mon/serial/comport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ComportSystem, MissingPortFailsWithTheSystemsReason) {
    COMPORT port;
    const DWORD error = port.open("COM250", 9600, true, true, 8);
    EXPECT_NE(error, 0u);
    EXPECT_FALSE(port.isopen());
    EXPECT_EQ(port.lasterror(), error);
    const std::string untrimmed = port.errortext(0, false);
    const std::string trimmed = port.errortext(0, true);
    EXPECT_NE(trimmed, "Hosed");
    EXPECT_FALSE(trimmed.empty());
    EXPECT_EQ(untrimmed.back(), '\n'); // the system's texts end their line
    EXPECT_EQ(untrimmed.compare(0, trimmed.size(), trimmed), 0);
}

TEST(ComportSystem, KeptMarkerIsSeenByEveryClaimUntilReleased) {
    const std::string name = "h2test-system-COM5";
    if (HANDLE probe = CreateSemaphoreA(nullptr, 0, 1, (name + "-probe").c_str())) {
        CloseHandle(probe);
    } else if (GetLastError() == static_cast<DWORD>(ERROR_NOT_SUPPORTED)) {
        GTEST_SKIP() << "port markers are not supported on this system";
    }
    COMPORT holder;
    COMPORT other;
    EXPECT_FALSE(holder.claim(name.c_str(), false));
    ASSERT_FALSE(holder.claim((name + ":baud=9600").c_str(), true));
    EXPECT_TRUE(other.claim(name.c_str(), false));
    EXPECT_EQ(other.dwLastError, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    holder.release();
    EXPECT_FALSE(other.claim(name.c_str(), false));
}

} // namespace
