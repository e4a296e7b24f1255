// gzip-compressed text, as logrotate leaves a log, for tests of its readers.
#pragma once

#include <string>

namespace h2test {

// `text` as one gzip member.
std::string gzip(const std::string& text);

} // namespace h2test
