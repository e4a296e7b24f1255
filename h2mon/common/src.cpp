#include "h2mon/common/src.h"
#include "h2mon/common/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Copies at most size - 1 characters of text and terminates the copy. The source
// may overlap the destination (a source renamed from its own buffer).
template <std::size_t N> void copy_text(char (&field)[N], const char* text) {
    const std::size_t length = strnlen(text, N - 1);
    std::memmove(field, text, length);
    field[length] = '\0';
}

// Removes trailing white space, never the first character: a message that is a
// lone line feed or begins with one keeps it, so it still prints an empty line.
void trim_end(char* text) {
    std::size_t last = std::strlen(text);
    while (last > 1 && is_white_space(text[last - 1])) {
        text[--last] = '\0';
    }
}

} // namespace

SRC::SRC(const char* name, int level) : nLevel(kSrcDefaultLevel), pParent(nullptr) {
    szLastError[0] = '\0';
    szFormat[0] = '\0';
    szSrcName[0] = '\0';
    SRC::setparent(nullptr, true);
    SRC::setname(name);
    SRC::setlevel(level);
}

SRC::~SRC() = default;

int SRC::setlevel(int level) {
    const int previous = nLevel;
    nLevel = level;
    return previous;
}

void SRC::setname(const char* name) {
    copy_text(szSrcName, name != nullptr ? name : "");
}

SRC* SRC::setparent(SRC* parent, bool compose) {
    SRC* const previous = pParent;
    pParent = parent;
    if (parent != nullptr) {
        nLevel = parent->nLevel;
        if (compose && parent->szSrcName[0] != '\0') {
            std::snprintf(szFormat, sizeof szFormat, "%s::%s", parent->szSrcName, szSrcName);
            copy_text(szSrcName, szFormat);
        }
    }
    return previous;
}

bool SRC::output(SRC* /*source*/, int level, const char* text) {
    if (level >= nLevel) {
        std::printf("%s\n", text);
    }
    return true;
}

bool SRC::message(int level, const char* format, ...) {
    szFormat[sizeof szFormat - 1] = '\0';
    std::va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(szFormat, sizeof szFormat, format, arguments);
    va_end(arguments);
    if (written < 0) {
        szFormat[0] = '\0'; // an encoding error leaves the buffer undefined
    }
    trim_end(szFormat);
    if (level >= kSrcErrorLevel) {
        copy_text(szLastError, szFormat);
    }
    SRC* const target = pParent != nullptr ? pParent : this;
    return target->output(target, level, szFormat);
}
