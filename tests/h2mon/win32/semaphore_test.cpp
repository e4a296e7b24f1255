// Named semaphores as in-use markers: a marker exists while any holder, in any
// process of the user, keeps a handle to it.
#include "h2mon/win32/win32.h"

#include "tests/support/forked_child.h"

#include <gtest/gtest.h>

#include <string>

#include <unistd.h>

namespace {

// A marker name no other test run uses.
std::string unique(const std::string& name) {
    return "h2test-" + std::to_string(::getpid()) + "-" + name;
}

// Creates the marker and tells whether it existed before; the handle is kept.
bool existed(const std::string& name, HANDLE* handle) {
    *handle = CreateSemaphoreA(nullptr, 0, 1, name.c_str());
    EXPECT_NE(*handle, nullptr) << name;
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

// Creates and closes the marker at once; true when it existed.
bool probe(const std::string& name) {
    HANDLE handle = nullptr;
    const bool result = existed(name, &handle);
    CloseHandle(handle);
    return result;
}

TEST(Semaphore, ExistsWhileAnyHandleIsOpen) {
    const std::string name = unique("COM5");
    HANDLE first = nullptr;
    HANDLE second = nullptr;
    EXPECT_FALSE(existed(name, &first));
    EXPECT_TRUE(existed(name, &second));
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(probe(name)); // the second holder keeps it
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(probe(name));
    EXPECT_FALSE(probe(name));
}

TEST(Semaphore, NamesAreDistinctByteForByte) {
    HANDLE held = nullptr;
    ASSERT_FALSE(existed(unique("a/b"), &held));
    for (const char* other : {"a%2Fb", "a_b", "A/B", "a/b/", "ab"}) {
        EXPECT_FALSE(probe(unique(other))) << other;
    }
    EXPECT_TRUE(probe(unique("a/b")));
    CloseHandle(held);

    // Names that would leave the marker directory are ordinary names too.
    for (const char* name : {"..", "../../etc/passwd", ".hidden", "COM1:baud=9600 data=8"}) {
        ASSERT_FALSE(existed(name + std::to_string(::getpid()), &held)) << name;
        EXPECT_TRUE(probe(name + std::to_string(::getpid()))) << name;
        CloseHandle(held);
    }
}

TEST(Semaphore, ParametersAndNamesAreChecked) {
    EXPECT_EQ(CreateSemaphoreA(nullptr, 2, 1, "x"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateSemaphoreA(nullptr, 0, 1, std::string(300, 'n').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

    HANDLE unnamed = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(CloseHandle(unnamed));
}

// In a child process: creates the marker, tells whether it was new ('n') or
// existed ('e'), keeps it until told to let go, then tells it has ('x').
void hold_marker(ForkedChild& parent, const std::string& name) {
    HANDLE handle = CreateSemaphoreA(nullptr, 0, 1, name.c_str());
    parent.tell(handle != nullptr && GetLastError() == 0 ? 'n' : 'e');
    parent.hear();
    CloseHandle(handle);
    parent.tell('x');
    parent.hear();
}

TEST(Semaphore, MarkerIsSharedAcrossProcessesAndDiesWithItsHolder) {
    const std::string name = unique("COM7");
    {
        ForkedChild child([&](ForkedChild& parent) { hold_marker(parent, name); });
        EXPECT_EQ(child.hear(), 'n');
        EXPECT_TRUE(probe(name));
        child.tell('g');
        EXPECT_EQ(child.hear(), 'x');
        EXPECT_FALSE(probe(name));
    }
    {
        HANDLE mine = nullptr;
        ASSERT_FALSE(existed(name, &mine));
        ForkedChild child([&](ForkedChild& parent) { hold_marker(parent, name); });
        EXPECT_EQ(child.hear(), 'e'); // it sees ours
        CloseHandle(mine);
        EXPECT_TRUE(probe(name)); // and now holds it alone
        child.kill();
        EXPECT_FALSE(probe(name));
    }
}

} // namespace
