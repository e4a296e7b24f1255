// Small text files an operator writes (limits, logbooks), read whole.
#pragma once

#include <string>
#include <vector>

// Reads the file at `path` into `text`. False when it cannot be read; a file
// that does not exist is no error, any other failure adds "PATH: reason" to
// `errors`.
bool read_text_file(const std::string& path, std::string* text, std::vector<std::string>& errors);
