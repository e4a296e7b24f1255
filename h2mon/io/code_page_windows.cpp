#include "h2mon/io/code_page_windows.h"

#include <string>

std::string recoded(const char* text, UINT from, UINT to) {
    const int wide_size = MultiByteToWideChar(from, 0, text, -1, nullptr, 0);
    if (wide_size <= 0) {
        return text;
    }
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    MultiByteToWideChar(from, 0, text, -1, wide.data(), wide_size);
    const int size = WideCharToMultiByte(to, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return text;
    }
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(to, 0, wide.c_str(), -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size) - 1); // the terminating NUL
    return result;
}
