// Named semaphores as in-use markers: a marker exists while any holder, in any
// process of the user, keeps a handle to it.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include <sys/wait.h>
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

// A child process that creates the marker, reports through a pipe, then waits
// to be told to go or to be killed.
class Holder {
public:
    explicit Holder(const std::string& name) {
        int ready[2];
        int go[2];
        EXPECT_EQ(::pipe(ready), 0);
        EXPECT_EQ(::pipe(go), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            HANDLE handle = CreateSemaphoreA(nullptr, 0, 1, name.c_str());
            const char created = handle != nullptr && GetLastError() == 0 ? 'n' : 'e';
            (void)!::write(ready[1], &created, 1);
            char c;
            (void)!::read(go[0], &c, 1);
            CloseHandle(handle);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        go_ = go[1];
        char c = 0;
        EXPECT_EQ(::read(ready[0], &c, 1), 1);
        created_ = c == 'n';
        ::close(ready[0]);
    }
    ~Holder() {
        if (pid_ > 0) {
            finish();
        }
    }
    bool created() const { return created_; }
    void finish() {
        ::close(go_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    void kill() {
        ::kill(pid_, SIGKILL);
        finish();
    }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    bool created_ = false;
};

TEST(Semaphore, MarkerIsSharedAcrossProcessesAndDiesWithItsHolder) {
    const std::string name = unique("COM7");
    {
        Holder child(name);
        EXPECT_TRUE(child.created());
        EXPECT_TRUE(probe(name));
        child.finish();
        EXPECT_FALSE(probe(name));
    }
    {
        HANDLE mine = nullptr;
        ASSERT_FALSE(existed(name, &mine));
        Holder child(name);
        EXPECT_FALSE(child.created()); // it sees ours
        CloseHandle(mine);
        EXPECT_TRUE(probe(name)); // and now holds it alone
        child.kill();
        EXPECT_FALSE(probe(name));
    }
}

} // namespace
