#include "h2mon/notices.h"

#include "h2mon/win32/stdout_text.h"

#include <cstring>
#include <ctime>

void print_notice(std::FILE* stream, const std::string& line) {
    std::fputs(stdout_text((line + "\n").c_str()).c_str(), stream);
    std::fflush(stream);
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
    print_notice(notices_, "Cannot open the log file " + path_ + ": " + std::strerror(error) +
                               "; records go to standard output only");
}

void LogHealth::row_written(int error) {
    if (error != 0) {
        if (!failing_) {
            print_notice(notices_,
                         "Cannot write to the log file " + path_ + ": " + std::strerror(error));
        }
        failing_ = true;
        ++missed_;
        return;
    }
    if (failing_) {
        print_notice(notices_, "Writing to the log file " + path_ + " again; " +
                                   std::to_string(missed_) + " rows missed");
        failing_ = false;
        missed_ = 0;
    }
}
