#include "h2mon/notices.h"

#include "h2mon/console_writer.h"
#include "h2mon/output.h"
#include "h2mon/io/stdout_text.h"

#include <algorithm>
#include <cstring>
#include <ctime>

void NoticeStream::print(const std::string& line) const {
    if (console != nullptr) {
        console->notice(stdout_text(line.c_str()));
    } else {
        write_stream(stream, stdout_text((line + "\n").c_str()), stops);
    }
}

std::string notice_time(std::int64_t unix_ms) {
    const std::time_t seconds = static_cast<std::time_t>(unix_ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

void LogHealth::open_failed(int error) {
    notices_.print("Cannot open the log file " + path_ + ": " + std::strerror(error) +
                   "; records go to standard output only");
}

void LogHealth::row_written(int error) {
    if (error != 0) {
        if (!failing_) {
            notices_.print("Cannot write to the log file " + path_ + ": " + std::strerror(error));
        }
        failing_ = true;
        ++missed_;
        return;
    }
    if (failing_) {
        notices_.print("Writing to the log file " + path_ + " again; " + std::to_string(missed_) +
                       " rows missed");
        failing_ = false;
        missed_ = 0;
    }
}

namespace {

constexpr std::int64_t kNoFrameNoticeMs = 30000;
constexpr std::int64_t kNoFrameIntervals = 3;

unsigned bit_of(Miss kind) {
    return 1u << static_cast<unsigned>(kind);
}

// "no answer", "short answers", "answers that were no frame", joined by ", ".
std::string what_came(unsigned kinds) {
    static const struct {
        Miss kind;
        const char* words;
    } names[] = {{Miss::kNoAnswer, "no answer"},
                 {Miss::kShortAnswer, "short answers"},
                 {Miss::kNotAFrame, "answers that were no frame"}};
    std::string text;
    for (const auto& name : names) {
        if ((kinds & bit_of(name.kind)) != 0) {
            text += (text.empty() ? "" : ", ") + std::string(name.words);
        }
    }
    return text;
}

} // namespace

FrameWatch::FrameWatch(std::string port, std::int32_t interval_ms, NoticeStream notices)
    : port_(std::move(port)),
      limit_ms_(std::max<std::int64_t>(kNoFrameNoticeMs, kNoFrameIntervals * interval_ms)),
      notices_(notices) {}

void FrameWatch::start(std::int64_t now_ms, std::int64_t unix_ms) {
    last_frame_ms_ = now_ms;
    last_frame_unix_ms_ = unix_ms;
}

void FrameWatch::frame(std::int64_t now_ms, std::int64_t unix_ms) {
    if (reported_) {
        notices_.print("Frames from " + port_ + " again since " + notice_time(unix_ms));
    }
    reported_ = false;
    missed_kinds_ = 0;
    start(now_ms, unix_ms);
}

void FrameWatch::miss(Miss kind, std::int64_t now_ms) {
    missed_kinds_ |= bit_of(kind);
    if (reported_ || now_ms - last_frame_ms_ < limit_ms_) {
        return;
    }
    reported_ = true;
    notices_.print("No frame from " + port_ + " since " + notice_time(last_frame_unix_ms_) + ": " +
                   what_came(missed_kinds_));
}
