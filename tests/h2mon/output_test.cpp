#include "h2mon/csv_output.h"
#include "h2mon/io/log_file.h"
#include "h2mon/json_output.h"
#include "h2mon/output.h"
#include "telemetry/log_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// A fully buffered stream on a file of its own. Its text is read back through a
// separate handle, so only what the code under test has flushed is seen.
class Capture {
public:
    explicit Capture(const std::string& name)
        : path_(std::filesystem::path(testing::TempDir()) / unique_name(name)),
          stream_(std::fopen(path_.string().c_str(), "wb+")) {
        std::setvbuf(stream_, nullptr, _IOFBF, 1 << 16);
    }
    ~Capture() {
        std::fclose(stream_);
        std::filesystem::remove(path_);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::FILE* stream() const { return stream_; }
    std::string path() const { return path_.string(); }
    std::size_t flushed_size() const { return std::filesystem::file_size(path_); }
    std::string flushed_text() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    // Test cases may run in parallel processes, each with files of its own.
    static std::string unique_name(const std::string& name) {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        return std::string("h2mon_") + test->test_suite_name() + "." + test->name() + "." +
               std::to_string(stamp) + "." + name;
    }

    std::filesystem::path path_;
    std::FILE* stream_;
};

// The log file as h2mon opens it, on a file of its own; its text read back with
// "\n" line ends (on Windows the log is a text file).
class LogCapture {
public:
    LogCapture() : capture_("log"), file_(capture_.path()) {}

    LogFile* file() { return &file_; }
    std::string text() const {
        std::ifstream in(capture_.path());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    Capture capture_;
    LogFile file_;
};

// The console device: each character written to it, with how much of standard
// output had reached the file when it was written.
struct ConsoleWrite {
    std::size_t stdout_offset;
    char character;
};
const Capture* console_stdout = nullptr;
std::vector<ConsoleWrite> console_writes;

int capture_console(int character) {
    console_writes.push_back({console_stdout->flushed_size(), static_cast<char>(character)});
    return character;
}

// What a console shows: standard output with the console writes placed where
// they happened, a space written to the console marked as ~.
std::string screen_of(const std::string& stdout_text) {
    std::string screen;
    std::size_t taken = 0;
    for (const ConsoleWrite& write : console_writes) {
        screen += stdout_text.substr(taken, write.stdout_offset - taken);
        screen += write.character == ' ' ? '~' : write.character;
        taken = write.stdout_offset;
    }
    return screen + stdout_text.substr(taken);
}

// The clock gives these readings in turn, so a test sees which record got which.
std::vector<double> clock_readings;
int clock_calls = 0;

double fixed_clock(SYSTEMTIME*) {
    return clock_readings.at(clock_calls++);
}

std::string golden(const char* name) {
    std::ifstream in(std::string(H2_GOLDEN_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::string text(std::istreambuf_iterator<char>(in), {});
    // The escape character is written \e in the golden files.
    for (std::size_t at; (at = text.find("\\e")) != std::string::npos;) {
        text.replace(at, 2, "\x1b");
    }
    return text;
}

std::string without(std::string text, char removed) {
    text.erase(std::remove(text.begin(), text.end(), removed), text.end());
    return text;
}

// `text` without its bold and colour sequences (ESC "[" digits "m").
std::string without_escape_sequences(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b') {
            i = text.find('m', i);
        } else {
            plain += text[i];
        }
    }
    return plain;
}

// The frame behind every golden file. Positions are buffer index + 2.
struct GoldenFrame {
    std::uint8_t bytes[kFrameLength] = {};
    GoldenFrame() {
        const std::pair<int, std::uint8_t> set[] = {
            {0, 0xAA},   {1, 0xBB},  // positions 2 and 3: the hidden first row
            {2, 0x34},   {3, 0x12},  // Batt_V 4660
            {4, 0x00},   {5, 0x80},  // Ext_V -32768
            {6, 0xFF},   {7, 0xFF},  // p27_V1 -1
            {10, 0xFF},  {11, 0x7F}, // n15_V 32767
            {18, 0xFF},  {19, 0x0F}, // f5M1_V 4095
            {28, 0x01},  {29, 0x02},  {30, 0x03},  {31, 0x04}, // Rsvd2
            {42, 0x10},  {43, 0x27},                           // Ion_uA 10000
            {52, 0x00},  {53, 0x01},                           // HFO_V 256
            {62, 0xC8},  {63, 0x00},                           // H2_atm 200, offset -2
            {66, 0x01},  {125, 0xFE},                          // RsvdDT1, positions 68 and 127
            {128, 0x5A},                                       // FFCorrL, one byte
            {129, 0x11}, {130, 0x22}, {131, 0x33},             // AuxFLL2
            {132, 0xCD}, {133, 0xAB},                          // 2H_V
            {146, 0xEF}, {147, 0xBE},                          // CCoarse
            {162, 0x99}, {187, 0xEE},                          // RsvdDT2, positions 164 and 189
            {188, 0x77},                                       // the 189th byte, in no channel
        };
        for (const auto& [index, value] : set) {
            bytes[index] = value;
        }
    }
};

class RecordTest : public testing::Test {
protected:
    RecordTest() : out("stdout") {
        console_stdout = &out;
        console_writes.clear();
        clock_readings = {51544.5, 60369.25};
        clock_calls = 0;
        output.out = out.stream();
        output.clock = fixed_clock;
        output.putch = capture_console;
    }

    Capture out;
    LogCapture log;
    RecordOutput output;
    GoldenFrame frame;
};

TEST_F(RecordTest, CsvHeaderNamesTheShownChannels) {
    EXPECT_EQ(csv_header_line(), golden("csv_header.txt"));
}

TEST_F(RecordTest, CsvRecordWritesTheLogRowFirstWithAReadingOfItsOwn) {
    clock_readings = {60369.25, 51544.5}; // the log row takes the first reading
    output.log = log.file();
    print_record(OutputForm::kCsv, frame.bytes, kFrameLength, output);
    EXPECT_EQ(out.flushed_text(), golden("csv_record.txt"));
    EXPECT_EQ(log.text(), golden("csv_log.txt"));
    EXPECT_EQ(clock_calls, 2);
    EXPECT_TRUE(console_writes.empty());
}

TEST_F(RecordTest, CsvRecordWithoutLogReadsTheClockOnce) {
    print_record(OutputForm::kCsv, frame.bytes, kFrameLength, output);
    EXPECT_EQ(out.flushed_text(), golden("csv_record.txt"));
    EXPECT_EQ(clock_calls, 1);
}

TEST_F(RecordTest, JsonBlockWithoutConsoleModeHasNoEscapesOrPadding) {
    output.log = log.file();
    print_record(OutputForm::kJson, frame.bytes, kFrameLength, output);
    EXPECT_EQ(out.flushed_text(), golden("json.txt"));
    EXPECT_EQ(log.text(), "");
    EXPECT_TRUE(console_writes.empty());
    EXPECT_EQ(clock_calls, 1);
}

// In json_tty.txt each ~ is a space written to the console device. Where the
// console would show escape sequences as text, the bold is left out and the
// padding stays.
TEST_F(RecordTest, JsonBlockInConsoleModePadsOnTheConsoleInPlace) {
    for (const bool escapes : {true, false}) {
        SCOPED_TRACE(escapes ? "with escape sequences" : "without escape sequences");
        Capture case_out("stdout");
        LogCapture case_log;
        console_stdout = &case_out;
        console_writes.clear();
        clock_calls = 0;
        output.out = case_out.stream();
        output.log = case_log.file();
        output.console_mode = true;
        output.escape_sequences = escapes;
        print_record(OutputForm::kJson, frame.bytes, kFrameLength, output);
        std::string expected_screen = golden("json_tty.txt");
        if (!escapes) {
            expected_screen = without_escape_sequences(expected_screen);
        }
        const std::string stdout_text = case_out.flushed_text();
        EXPECT_EQ(stdout_text, without(expected_screen, '~'));
        EXPECT_EQ(screen_of(stdout_text), expected_screen);
        EXPECT_EQ(case_log.text(), "");
    }
}

TEST_F(RecordTest, HexDumpShowsEveryReceivedByteAndNoTimestamp) {
    output.log = log.file();
    print_record(OutputForm::kHex, frame.bytes, kFrameLength, output);
    const std::string text = out.flushed_text();
    EXPECT_EQ(text, golden("hex.txt"));
    EXPECT_EQ(text.size(), 2u * kFrameLength + 1);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(clock_calls, 0);
}

TEST_F(RecordTest, ConsolePaddingFollowsTheNameWidth) {
    struct Case {
        const char* name;
        double scale;
        int first, last;
        std::size_t padding;
    };
    const Case cases[] = {
        {"NineChars", 1, 10, 11, 1},  // name padded to ten columns
        {"TenLetters", 1, 10, 11, 0}, // long names are not padded
        {"LongerName1", 1, 10, 11, 0},
        {"TenLetters", 0, 10, 12, 2}, // a three-byte hexadecimal value: six digits
    };
    output.console_mode = true;
    for (const Case& c : cases) {
        console_writes.clear();
        RecordText text;
        print_json_element(frame.bytes, CHANNEL{c.first, c.last, c.name, "", c.scale, 0}, 7, output,
                           text);
        write_record_text(text, out.stream(), output.putch);
        EXPECT_EQ(console_writes.size(), c.padding) << c.name;
    }
}

using RecordDeathTest = RecordTest;

TEST_F(RecordDeathTest, ScaledChannelSpanningOtherThanTwoBytesIsAnInternalFault) {
    const CHANNEL three_bytes{10, 12, "Wide", "", 0.5, 0};
    const CHANNEL one_byte{10, 10, "Narrow", "", 0.5, 0};
    const char* message = "Assertion failed: b1 - b0 == 1";
    std::string field;
    EXPECT_DEATH(append_csv_field(field, frame.bytes, three_bytes), message);
    EXPECT_DEATH(append_csv_field(field, frame.bytes, one_byte), message);
    RecordText text;
    EXPECT_DEATH(print_json_element(frame.bytes, three_bytes, 1, output, text), message);
    EXPECT_DEATH(print_json_element(frame.bytes, one_byte, 1, output, text), message);
}

#ifndef _WIN32
// The log's path leads to a file, then to a device that is always full (as a
// disk that fills up), then to a file again.
TEST_F(RecordTest, AFailingLogIsNoticedOnceAndItsRecoveryCountsTheRowsItMissed) {
    const std::string path = log.file()->path();
    const std::string kept = path + ".kept";
    const auto lead_to = [&](const std::string& target) {
        const std::string link = path + ".link";
        std::filesystem::remove(link);
        std::filesystem::create_symlink(target, link);
        std::filesystem::rename(link, path);
    };
    std::filesystem::rename(path, kept);
    lead_to(kept);
    Capture notices("notices");
    LogHealth health("/var/log/h2mon/maser.csv", notices.stream());
    output.log = log.file();
    output.log_health = &health;
    const auto write_rows = [&](int rows) {
        for (int i = 0; i < rows; ++i) {
            clock_readings = {51544.5, 51544.5};
            clock_calls = 0;
            ASSERT_TRUE(print_record(OutputForm::kCsv, frame.bytes, kFrameLength, output));
        }
    };
    write_rows(1);
    lead_to("/dev/full");
    write_rows(3);
    lead_to(kept);
    write_rows(2);
    std::fflush(notices.stream());
    EXPECT_EQ(notices.flushed_text(),
              "Cannot write to the log file /var/log/h2mon/maser.csv: " +
                  std::string(std::strerror(ENOSPC)) +
                  "\nWriting to the log file /var/log/h2mon/maser.csv again; 3 rows missed\n");
    // Every record reached standard output; the log has the rows written, whole.
    const std::string row = golden("csv_record.txt");
    std::string three;
    for (int i = 0; i < 3; ++i) {
        three += row;
    }
    EXPECT_EQ(out.flushed_text(), three + three);
    std::ifstream kept_rows(kept, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept_rows), {}), three);
    EXPECT_FALSE(health.failing());
    std::filesystem::remove(kept);
}
#endif

// A pipe whose reader has gone, as standard output of `h2mon ... | more` after
// `more` was quit: Linux reports EPIPE; Windows fails the write with
// ERROR_NO_DATA, which its C runtime reports as EINVAL.
std::FILE* pipe_without_reader() {
#ifdef _WIN32
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) {
        return nullptr;
    }
    CloseHandle(read_end);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), 0);
    return fd >= 0 ? _fdopen(fd, "w") : nullptr;
#else
    std::signal(SIGPIPE, SIG_IGN); // as h2mon's console session does
    int ends[2];
    if (pipe(ends) != 0) {
        return nullptr;
    }
    close(ends[0]);
    return fdopen(ends[1], "w");
#endif
}

TEST_F(RecordTest, APipeWhoseReaderHasGoneIsTold) {
    std::FILE* gone = pipe_without_reader();
    ASSERT_NE(gone, nullptr);
    output.out = gone;
    EXPECT_FALSE(print_record(OutputForm::kHex, frame.bytes, kFrameLength, output));
    std::fclose(gone);
    // A stream that takes the record is no reader gone.
    output.out = out.stream();
    EXPECT_TRUE(print_record(OutputForm::kHex, frame.bytes, kFrameLength, output));
}

TEST(OutputFormName, MatchesCsvHexJsonIgnoringCase) {
    struct Case {
        const char* name;
        bool accepted;
        OutputForm form;
    };
    const Case cases[] = {
        {"csv", true, OutputForm::kCsv},   {"CSV", true, OutputForm::kCsv},
        {"Hex", true, OutputForm::kHex},   {"hEX", true, OutputForm::kHex},
        {"JSON", true, OutputForm::kJson}, {"json", true, OutputForm::kJson},
        {"xml", false, OutputForm::kCsv},  {"", false, OutputForm::kCsv},
        {"csv ", false, OutputForm::kCsv}, {"jsonl", false, OutputForm::kCsv},
    };
    for (const Case& c : cases) {
        // A rejected name leaves the previous choice alone.
        OutputForm form = OutputForm::kHex;
        EXPECT_EQ(output_form_from_name(c.name, &form), c.accepted) << c.name;
        EXPECT_EQ(form, c.accepted ? c.form : OutputForm::kHex) << c.name;
    }
    EXPECT_EQ(static_cast<int>(OutputForm::kCsv), 0);
    EXPECT_EQ(static_cast<int>(OutputForm::kHex), 1);
    EXPECT_EQ(static_cast<int>(OutputForm::kJson), 2);
}

} // namespace
