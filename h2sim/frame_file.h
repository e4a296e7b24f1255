// Frames played back from a file instead of the model.
#pragma once

#include "h2sim/frame_model.h"

#include <string>
#include <vector>

// Reads one frame per line written as hexadecimal digits (either case, white
// space between them allowed); '#' starts a comment that runs to the end of
// the line; lines with no digits are skipped. A line may hold any number of
// bytes: one that is not a whole frame is played as it stands. Fails, with
// the file name and line number in `error`, on a character that is not a
// hexadecimal digit, an odd number of digits, an unreadable file, or a file
// that holds no frame.
bool load_frame_file(const std::string& path, std::vector<Frame>& frames, std::string& error);

// One line of such a file; `frame` is left empty for a line with no digits.
bool parse_frame_line(const std::string& line, Frame& frame, std::string& error);
