#include "h2mon/common/cmdline.h"
#include "h2mon/common/text.h"
#include "h2mon/win32/paths.h"
#include "h2mon/win32/win32.h"

#include <cstdio>
#include <cstring>

namespace {

// Longest name captured from a usage line.
constexpr std::size_t kUsageNameMax = 255;
// Longest argument copied for wildcard expansion.
constexpr std::size_t kWildcardArgumentMax = kWildcardPathSize - 1;

void copy_cut(char* out, const char* text, std::size_t length, std::size_t max) {
    if (length > max) {
        length = max;
    }
    std::memcpy(out, text, length);
    out[length] = '\0';
}

// Appends as much of text as fits below limit characters; returns the new length.
std::size_t append_text(char* out, std::size_t length, std::size_t limit, const char* text) {
    while (*text != '\0' && length < limit) {
        out[length++] = *text++;
    }
    out[length] = '\0';
    return length;
}

// The name an option marker introduces: the characters after it up to white
// space, ':', '=' or the end, at most kUsageNameMax of them.
void capture_name(const char* after_marker, char (&name)[kUsageNameMax + 1]) {
    std::size_t length = 0;
    while (length < kUsageNameMax) {
        const char c = after_marker[length];
        if (c == '\0' || c == ':' || c == '=' || is_white_space(c)) {
            break;
        }
        name[length++] = c;
    }
    name[length] = '\0';
}

} // namespace

void copy_argument_text(char (&out)[kCmdlineTextMax + 1], const char* text) {
    copy_cut(out, text, std::strlen(text), kCmdlineTextMax);
}

void split_wildcard(const char* argument, WildcardSearch* search) {
    char copy[kWildcardArgumentMax + 1];
    copy_cut(copy, argument, std::strlen(argument), kWildcardArgumentMax);
    const char* separator = std::strrchr(copy, kDirSeparator);
    const std::size_t dir_length = separator != nullptr ? separator - copy + 1 : 0;
    copy_cut(search->szDir, copy, dir_length, sizeof search->szDir - 1);
    std::snprintf(search->szSearch, sizeof search->szSearch, "%s", copy);
}

void split_option(const char* argument, OptionArgument* option) {
    const char* name = argument + 1;
    const char* separator = std::strchr(name, '=');
    if (separator == nullptr) {
        separator = std::strchr(name, ':');
    }
    if (separator == nullptr) {
        copy_argument_text(option->szName, name);
        option->szValue[0] = '\0';
        return;
    }
    copy_cut(option->szName, name, separator - name, kCmdlineTextMax);
    copy_argument_text(option->szValue, separator + 1);
}

void NameList::clear() {
    szText[0] = '\0';
    nLength = 0;
    nCount = 0;
}

void NameList::add(const char* name) {
    const std::size_t limit = sizeof szText - 1;
    if (nCount > 0) {
        nLength = append_text(szText, nLength, limit, ", ");
    }
    nLength = append_text(szText, nLength, limit, "\"");
    nLength = append_text(szText, nLength, limit, name);
    nLength = append_text(szText, nLength, limit, "\"");
    ++nCount;
}

// Walks the text once. A line feed forgets the captured name. While no name is
// held, an option marker ('/' or '-', also inside a word) captures the name that
// follows it; the marker and the name are still copied. A '$' with a name held is
// replaced by that option's value (dropped when there is no such option) and
// forgets the name, so only the first marker of a line, or the first after a
// substitution, names the option for the next '$'. Any other '$' stays.
void expand_usage(const char* text, OptionValueLookup lookup, const void* context, char* out,
                  std::size_t size) {
    const bool substitutes = std::strchr(text, '$') != nullptr;
    const std::size_t limit = size - 1;
    char name[kUsageNameMax + 1] = "";
    std::size_t length = 0;
    out[0] = '\0';
    for (const char* p = text; *p != '\0' && length < limit; ++p) {
        if (*p == '\n') {
            name[0] = '\0';
        }
        if (substitutes && is_option_marker(*p) && name[0] == '\0') {
            capture_name(p + 1, name);
        }
        if (*p == '$' && name[0] != '\0') {
            const char* value = lookup(context, name);
            name[0] = '\0';
            if (value != nullptr) {
                length = append_text(out, length, limit, value);
            }
            continue;
        }
        out[length++] = *p;
        out[length] = '\0';
    }
}

bool has_wildcard(const char* argument) {
    return std::strpbrk(argument, "*?") != nullptr;
}

bool visit_matching_files(const char* argument, MatchVisitor visit, void* context) {
    WildcardSearch search;
    split_wildcard(argument, &search);
    WIN32_FIND_DATAA found;
    HANDLE handle = FindFirstFileA(search.szSearch, &found);
    if (handle == INVALID_HANDLE_VALUE) {
        return true;
    }
    bool completed = true;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        char path[sizeof search.szDir + sizeof found.cFileName];
        std::snprintf(path, sizeof path, "%s%s", search.szDir, found.cFileName);
        completed = visit(context, path);
    } while (completed && FindNextFileA(handle, &found));
    FindClose(handle);
    return completed;
}
