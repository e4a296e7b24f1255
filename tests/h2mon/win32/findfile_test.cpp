// The Linux file search behind wildcard expansion.
#include "h2mon/win32/win32.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

class FindFile : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("h2-findfile-" +
               std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir / "dir.txt");
        for (const char* name : {"a.txt", "b.TXT", "[x].log", ".hidden", "abc", "aXbXc"}) {
            std::ofstream(dir / name) << "12345";
        }
    }
    void TearDown() override { fs::remove_all(dir); }

    // Every name the search for pattern in the test directory returns.
    std::set<std::string> names(const std::string& pattern) {
        std::set<std::string> found;
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA((dir.string() + "/" + pattern).c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) {
            return found;
        }
        do {
            EXPECT_TRUE(found.insert(data.cFileName).second) << "twice: " << data.cFileName;
        } while (FindNextFileA(search, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(FindClose(search));
        return found;
    }

    fs::path dir;
};

TEST_F(FindFile, StarAndQuestionMarkAreTheOnlyWildcards) {
    using Names = std::set<std::string>;
    const struct {
        const char* pattern;
        Names expected;
    } cases[] = {
        {"*.txt", {"a.txt", "dir.txt"}},
        {"?.txt", {"a.txt"}},
        {"*.TXT", {"b.TXT"}},
        {"[x].log", {"[x].log"}},
        {"a*c", {"abc", "aXbXc"}},
        {"a*b*c", {"abc", "aXbXc"}},
        {"*X*", {"aXbXc", "b.TXT"}},
        {".*", {".", "..", ".hidden"}},
        {"abc", {"abc"}},
        {"*", {".", "..", "a.txt", "b.TXT", "[x].log", ".hidden", "abc", "aXbXc", "dir.txt"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(names(c.pattern), c.expected) << c.pattern;
    }
}

TEST_F(FindFile, ReportsDirectories) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((dir.string() + "/dir.txt").c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    FindClose(search);

    search = FindFirstFileA((dir.string() + "/abc").c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_STREQ(data.cFileName, "abc");
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search)); // closed already
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FindFile, FailsWhenNothingMatchesOrTheDirectoryIsMissing) {
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((dir.string() + "/nothing*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA((dir.string() + "/").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA((dir.string() + "/missing/*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(FindNextFileA(INVALID_HANDLE_VALUE, &data));
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

} // namespace
