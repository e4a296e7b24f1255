// Feeds arbitrary telemetry frames to the three output forms, with console mode on
// and off and with and without a log file, and reads every record back: each
// channel must show exactly the bytes of its span, nothing may be lost, shifted or
// added, and the log file must hold what the CSV form printed.
//
// Input: byte 0 chooses the form (value % 3: CSV, HEX, JSON-like), bit 2 console
// mode and bit 3 a log file; the rest is the frame, cut or filled with zeros to
// its length.
#include "telemetry/channels.h"
#include "telemetry/hex.h"
#include "h2mon/io/log_file.h"
#include "h2mon/output.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr double kStamp = 60369.123456;
constexpr const char* kStampText = "60369.123456";

double fixed_clock(SYSTEMTIME*) {
    return kStamp;
}

std::string console; // what went straight to the console device
int to_console(int character) {
    console += static_cast<char>(character);
    return character;
}

void expect(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "render_fuzz: %s\n", what);
        std::abort();
    }
}

// A stream whose contents can be read back once it is closed.
class MemoryStream {
public:
    MemoryStream() : stream_(open_memstream(&text_, &size_)) {
        expect(stream_ != nullptr, "memory");
    }
    ~MemoryStream() { std::free(text_); }
    std::FILE* stream() const { return stream_; }
    std::string take() {
        std::fclose(stream_);
        return std::string(text_, size_);
    }

private:
    char* text_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

// The log file as h2mon writes it, on a file of the process's own that each
// input starts empty.
class LogOnDisk {
public:
    LogOnDisk() : path_(make_path()), file_(path_) {}
    ~LogOnDisk() { std::remove(path_.c_str()); }
    LogFile* file() { return &file_; }
    std::string take() {
        std::string text;
        if (std::FILE* in = std::fopen(path_.c_str(), "rb")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
                text.append(buffer, n);
            }
            std::fclose(in);
        }
        expect(truncate(path_.c_str(), 0) == 0, "the log file could not be emptied");
        return text;
    }

private:
    static std::string make_path() {
        char path[] = "/tmp/render_fuzz_log_XXXXXX";
        const int fd = mkstemp(path);
        expect(fd >= 0, "no log file");
        close(fd);
        return path;
    }

    std::string path_;
    LogFile file_;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

std::string hex_of_span(const std::uint8_t* frame, int from, int to_down) {
    std::string text;
    for (int i = from; i >= to_down; --i) {
        append_hex(text, &frame[i], 1);
    }
    return text;
}

// The field a channel must show, computed afresh from the frame: the span's bytes
// most significant first, or the little-endian 16-bit signed value scaled.
std::string expected_hex(const std::uint8_t* frame, const CHANNEL& channel) {
    return hex_of_span(frame, channel.last - 2, channel.first - 2);
}

double expected_value(const std::uint8_t* frame, const CHANNEL& channel) {
    const int low = frame[channel.first - 2];
    const int high = frame[channel.last - 2];
    const int raw = (high << 8 | low) - (high >= 0x80 ? 0x10000 : 0);
    return raw * channel.scale + channel.offset;
}

void expect_value_text(const std::string& text, const std::uint8_t* frame, const CHANNEL& channel) {
    char* end = nullptr;
    const double shown = std::strtod(text.c_str(), &end);
    expect(end != text.c_str() && *end == '\0', "a numeric field is not a number");
    expect(std::fabs(shown - expected_value(frame, channel)) <= 0.0005 + 1e-9,
           "a numeric field shows another value");
}

void check_csv(const std::string& out, const std::uint8_t* frame) {
    expect(!out.empty() && out.back() == '\n' && out.find('\n') == out.size() - 1,
           "a CSV record is not one line");
    const std::vector<std::string> fields = split(out.substr(0, out.size() - 1), ',');
    expect(fields.size() == 44, "a CSV record has other than 44 fields");
    expect(fields[0] == kStampText, "the CSV timestamp is not the clock's");
    std::size_t next = 1;
    for (const CHANNEL& channel : kChannels) {
        if (!channel_shown(channel)) {
            continue;
        }
        const std::string& field = fields[next++];
        if (channel.scale == 0) {
            expect(field == expected_hex(frame, channel), "a hexadecimal field shows other bytes");
        } else {
            expect(field.find('.') == field.size() - 4, "a numeric field without three decimals");
            expect_value_text(field, frame, channel);
        }
    }
}

// One element's value text: what follows "val": up to the closing " },".
std::string element_value(const std::string& line) {
    const std::string open = "\"val\": ";
    const std::size_t start = line.find(open);
    const std::size_t end = line.rfind(" },");
    expect(start != std::string::npos && end != std::string::npos && end > start,
           "a JSON-like element without a value");
    return line.substr(start + open.size(), end - start - open.size());
}

void check_json(const std::string& out, const std::uint8_t* frame, bool console_mode) {
    const std::vector<std::string> lines = split(out, '\n');
    // "[", the MJD, 43 channels, "]", and the empty text after the last line end.
    expect(lines.size() == 47 && lines[0] == "[" && lines[45] == "]" && lines[46].empty(),
           "a JSON-like block of the wrong shape");
    expect(element_value(lines[1]) == kStampText, "the JSON-like timestamp is not the clock's");
    const std::string bold = "\x1b[01m\x1b[30m";
    const std::string reset = "\x1b[01m\x1b[0m";
    std::size_t padding = 0;
    int number = 1;
    for (const CHANNEL& channel : kChannels) {
        if (!channel_shown(channel)) {
            continue;
        }
        const std::string& line = lines[static_cast<std::size_t>(number + 1)];
        const std::string head = "    { \"chan\": " + std::to_string(number) + ",\t\"name\": \"" +
                                 channel.name + "\",\"val\": ";
        expect(line.compare(0, head.size(), head) == 0, "a JSON-like element of the wrong shape");
        std::string value = element_value(line);
        const int name_length = static_cast<int>(std::strlen(channel.name));
        padding += static_cast<std::size_t>(name_length < 10 ? 10 - name_length : 0);
        if (channel.scale != 0) {
            expect(value.size() >= 8 && value.back() == ' ', "a numeric value not eight wide");
            const std::size_t digits = value.find_first_not_of(' ');
            expect_value_text(value.substr(digits, value.size() - 1 - digits), frame, channel);
        } else {
            if (console_mode) {
                const int bytes = channel.last - channel.first + 1;
                padding += static_cast<std::size_t>(bytes < 4 ? 8 - 2 * bytes : 0);
                expect(value.compare(0, bold.size(), bold) == 0 &&
                           value.size() >= bold.size() + reset.size() &&
                           value.compare(value.size() - reset.size(), reset.size(), reset) == 0,
                       "a hexadecimal value on a console is not shown in bold");
                value = value.substr(bold.size(), value.size() - bold.size() - reset.size());
            }
            expect(value == expected_hex(frame, channel), "a hexadecimal value shows other bytes");
        }
        ++number;
    }
    expect(console == std::string(console_mode ? padding : 0, ' '),
           "the console got other than the alignment spaces");
}

void check_hex(const std::string& out, const std::uint8_t* frame) {
    std::string in_order;
    for (int i = 0; i < kFrameLength; ++i) {
        in_order += hex_of_span(frame, i, i);
    }
    expect(out == in_order + "\n", "the hexadecimal dump is not the frame in order");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const OutputForm form = static_cast<OutputForm>(data[0] % 3);
    const bool console_mode = (data[0] & 4) != 0;
    const bool with_log = (data[0] & 8) != 0;
    std::uint8_t frame[kFrameLength] = {};
    std::memcpy(frame, data + 1, std::min<std::size_t>(size - 1, kFrameLength));

    MemoryStream out;
    static LogOnDisk log;
    RecordOutput output;
    output.out = out.stream();
    output.log = with_log ? log.file() : nullptr;
    output.console_mode = console_mode;
    output.clock = fixed_clock;
    output.putch = to_console;
    console.clear();
    print_record(form, frame, kFrameLength, output);

    const std::string printed = out.take();
    const std::string logged = log.take();
    switch (form) {
    case OutputForm::kCsv:
        check_csv(printed, frame);
        expect(console.empty(), "the CSV form wrote to the console");
        expect(logged == (with_log ? printed : ""), "the log file differs from the CSV record");
        break;
    case OutputForm::kJson:
        check_json(printed, frame, console_mode);
        expect(logged.empty(), "the JSON-like form wrote to the log file");
        break;
    case OutputForm::kHex:
        check_hex(printed, frame);
        expect(console.empty() && logged.empty(), "the hexadecimal dump went elsewhere too");
        break;
    }
    return 0;
}
