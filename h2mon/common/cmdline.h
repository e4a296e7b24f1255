// The pieces of command-line parsing and usage printing that do not depend on
// the store's entry type: taking an option argument apart, the quoted name list
// of the group and missing-option messages, the usage text's "$" substitution,
// and the file search behind wildcard expansion.
#pragma once

#include <cstddef>

// Longest option name, option value or positional value taken from an argument.
constexpr std::size_t kCmdlineTextMax = 1022;
// Longest expanded usage text and longest name list.
constexpr std::size_t kCmdlineListSize = 8192;

// True for the characters that start an option: '/' and '-'.
inline bool is_option_marker(char c) {
    return c == '/' || c == '-';
}

// An option argument taken apart: the name runs from after the leading marker to
// the first '=' (or, without one, the first ':'), the value is everything after
// that separator. Without a separator the value is empty. Both are cut at
// kCmdlineTextMax characters.
struct OptionArgument {
    char szName[kCmdlineTextMax + 1];
    char szValue[kCmdlineTextMax + 1];
};
void split_option(const char* argument, OptionArgument* option);

// Copies at most kCmdlineTextMax characters of text into out.
void copy_argument_text(char (&out)[kCmdlineTextMax + 1], const char* text);

// Names written as "\"a\", \"b\", ..." into a fixed buffer; names that no longer
// fit are cut off at its end.
class NameList {
public:
    NameList() { clear(); }
    void clear();
    void add(const char* name);
    const char* text() const { return szText; }
    int count() const { return nCount; }

private:
    char szText[kCmdlineListSize];
    std::size_t nLength;
    int nCount;
};

// The current value text of the option of that name, or null when none exists.
using OptionValueLookup = const char* (*)(const void* context, const char* name);

// Copies a usage text into out (at most size - 1 characters), replacing each '$'
// by the value of the option named by the option marker that precedes it on its
// line (see the definition for the exact rules). A text without '$' is copied
// unchanged.
void expand_usage(const char* text, OptionValueLookup lookup, const void* context, char* out,
                  std::size_t size);

// True when a positional argument holds a wildcard character ('*' or '?').
bool has_wildcard(const char* argument);

// Size of the directory part of a wildcard search: the Windows MAX_PATH.
constexpr std::size_t kWildcardPathSize = 260;

// A wildcard argument (cut at kWildcardPathSize - 1 characters) taken apart: the
// directory part that prefixes every match, up to and including the last
// directory separator (empty for the current directory), and the path handed to
// the file search. The directory part keeps its final separator, so an argument
// rooted at the separator ("\\*.txt" on Windows) still names the root directory.
struct WildcardSearch {
    char szDir[kWildcardPathSize];
    char szSearch[kWildcardPathSize + 4];
};
void split_wildcard(const char* argument, WildcardSearch* search);

// Receives the path of one matching file; returns false to end the search.
using MatchVisitor = bool (*)(void* context, const char* path);

// Searches for the files (never directories) that a wildcard argument names, in
// the order the system's file search returns them, and hands each one's path
// (the argument's directory part followed by the file name) to visit. Returns
// false when visit ended the search, true otherwise (also when nothing matched).
bool visit_matching_files(const char* argument, MatchVisitor visit, void* context);
