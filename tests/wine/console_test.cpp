// The Windows console helpers against the system's own console and code pages.
#include "h2mon/io/console_stream.h"
#include "h2mon/io/stdout_text.h"
#include "h2mon/io/code_page_windows.h"
#include "h2mon/io/console_modes_windows.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CodePage, TextsAreRecodedLetterByLetter) {
    struct Case {
        const char* text;
        UINT from;
        UINT to;
        const char* expected;
    };
    const Case cases[] = {
        {"plain text", 1252, 850, "plain text"},
        {"acc\xE8s refus\xE9", 1252, 850, "acc\x8As refus\x82"},     // French, ANSI to OEM
        {"\xCE\xF2\xEA\xE0\xE7", 1251, 866, "\x8E\xE2\xAA\xA0\xA7"}, // Russian "Отказ"
        {"\x80", 1252, 437, "?"}, // the euro sign, which code page 437 lacks
        {"", 1252, 850, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(recoded(c.text, c.from, c.to), c.expected) << c.text;
    }
}

// A console of the test's own, standard output on it, and what it was before.
class OwnConsole : public ::testing::Test {
protected:
    void SetUp() override {
        stdout_before_ = GetStdHandle(STD_OUTPUT_HANDLE);
        console_output_ = open_console_output();
        if (console_output_ == INVALID_HANDLE_VALUE) {
            FreeConsole(); // a console without screen, as Wine gives a program without terminal
            if (!AllocConsole()) {
                GTEST_SKIP() << "no console (error " << GetLastError() << ")";
            }
            SetStdHandle(STD_OUTPUT_HANDLE, stdout_before_);
            console_output_ = open_console_output();
        }
        ASSERT_NE(console_output_, INVALID_HANDLE_VALUE);
        SetStdHandle(STD_OUTPUT_HANDLE, console_output_);
    }
    void TearDown() override {
        if (console_output_ != INVALID_HANDLE_VALUE) {
            SetStdHandle(STD_OUTPUT_HANDLE, stdout_before_);
            CloseHandle(console_output_);
        }
    }

    static HANDLE open_console_output() {
        return CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    }

    HANDLE stdout_before_ = nullptr;
    HANDLE console_output_ = INVALID_HANDLE_VALUE;
};

TEST_F(OwnConsole, ChangedModesComeBackAsFoundAtExit) {
    constexpr DWORD kQuickEdit = ENABLE_QUICK_EDIT_MODE | ENABLE_EXTENDED_FLAGS;
    constexpr DWORD kVirtualTerminal = 0x0004; // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(input, INVALID_HANDLE_VALUE);
    const DWORD input_found = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                              ENABLE_INSERT_MODE | kQuickEdit;
    ASSERT_TRUE(SetConsoleMode(input, input_found));
    DWORD output_found = 0;
    ASSERT_TRUE(GetConsoleMode(console_output_, &output_found));
    output_found &= ~kVirtualTerminal;
    ASSERT_TRUE(SetConsoleMode(console_output_, output_found));

    ASSERT_TRUE(change_console_mode(ConsoleSide::kInput, 0, ENABLE_QUICK_EDIT_MODE));
    ASSERT_TRUE(change_console_mode(ConsoleSide::kOutput, kVirtualTerminal, 0));
    ASSERT_TRUE(change_console_mode(ConsoleSide::kInput, 0, ENABLE_INSERT_MODE)); // a second change
    DWORD mode = 0;
    ASSERT_TRUE(console_mode(ConsoleSide::kInput, &mode));
    EXPECT_EQ(mode, input_found & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE | ENABLE_INSERT_MODE));
    ASSERT_TRUE(console_mode(ConsoleSide::kOutput, &mode));
    EXPECT_EQ(mode, output_found | kVirtualTerminal);

    restore_console_modes();
    ASSERT_TRUE(GetConsoleMode(input, &mode));
    EXPECT_EQ(mode, input_found);
    ASSERT_TRUE(GetConsoleMode(console_output_, &mode));
    EXPECT_EQ(mode, output_found);
    CloseHandle(input);
}

// What the console shows in row `row` from its first column, `length` characters.
std::string console_row(HANDLE console, SHORT row, DWORD length) {
    std::string text(length, '\0');
    DWORD read = 0;
    ReadConsoleOutputCharacterA(console, &text[0], length, COORD{0, row}, &read);
    text.resize(read);
    return text;
}

TEST_F(OwnConsole, TextWrittenPastTheRuntimeReachesTheConsoleLineByLine) {
    EXPECT_TRUE(stream_is_console(stdout));
    ASSERT_TRUE(SetConsoleCursorPosition(console_output_, COORD{0, 0}));
    const std::string text = "first\nsecond\n";
    ASSERT_TRUE(write_to_console(stdout, text.data(), text.size()));
    EXPECT_EQ(console_row(console_output_, 0, 6), "first ");
    EXPECT_EQ(console_row(console_output_, 1, 6), "second");
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console_output_, &info));
    EXPECT_EQ(info.dwCursorPosition.X, 0);
    EXPECT_EQ(info.dwCursorPosition.Y, 2);

    HANDLE file = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, file);
    EXPECT_FALSE(stream_is_console(stdout));
    SetStdHandle(STD_OUTPUT_HANDLE, console_output_);
    CloseHandle(file);
}

TEST_F(OwnConsole, SystemTextsReachTheConsoleInItsCodePage) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "the ANSI code page is " << GetACP();
    }
    const UINT code_page_before = GetConsoleOutputCP();
    ASSERT_TRUE(SetConsoleOutputCP(850));
    EXPECT_EQ(stdout_text("Acc\xE8s refus\xE9."), "Acc\x8As refus\x82.");
    // Redirected output keeps the system's code page.
    HANDLE file = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, file);
    EXPECT_EQ(stdout_text("Acc\xE8s refus\xE9."), "Acc\xE8s refus\xE9.");
    SetStdHandle(STD_OUTPUT_HANDLE, console_output_);
    CloseHandle(file);
    SetConsoleOutputCP(code_page_before);
}

} // namespace
