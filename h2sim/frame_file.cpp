#include "h2sim/frame_file.h"

#include "telemetry/hex.h"

#include <cctype>
#include <fstream>

bool parse_frame_line(const std::string& line, Frame& frame, std::string& error) {
    frame.clear();
    int pending_high = -1;
    for (char c : line) {
        if (c == '#') {
            break;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            continue;
        }
        const int value = hex_digit_value(c);
        if (value < 0) {
            error = std::string("'") + c + "' is not a hexadecimal digit";
            return false;
        }
        if (pending_high < 0) {
            pending_high = value;
        } else {
            frame.push_back(static_cast<std::uint8_t>(pending_high << 4 | value));
            pending_high = -1;
        }
    }
    if (pending_high >= 0) {
        error = "odd number of hexadecimal digits";
        return false;
    }
    return true;
}

bool load_frame_file(const std::string& path, std::vector<Frame>& frames, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    frames.clear();
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        Frame frame;
        std::string why;
        if (!parse_frame_line(line, frame, why)) {
            error = path + ":" + std::to_string(number) + ": " + why;
            return false;
        }
        if (!frame.empty()) {
            frames.push_back(frame);
        }
    }
    if (frames.empty()) {
        error = path + ": holds no frame";
        return false;
    }
    return true;
}
