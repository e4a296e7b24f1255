// The character that separates directories in a path given on the command line.
#pragma once

#ifdef _WIN32
constexpr char kDirSeparator = '\\';
#else
constexpr char kDirSeparator = '/';
#endif
