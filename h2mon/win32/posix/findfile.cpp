// File search on opendir/readdir, for the wildcard expansion of positional
// arguments (which h2mon does not enable). A search lists one directory and
// hands out the entries whose names match the pattern, in the order readdir
// returns them, with their names and directory attribute only (no times or
// sizes). The pattern knows the Windows wildcards only: '*' for any run of
// characters and '?' for any one character; every other character, '['
// included, stands for itself. Names are compared as they are, with case: Linux
// file names are case-sensitive.
#include "h2mon/win32/posix/findfile.h"
#include "h2mon/win32/posix/errno_map.h"
#include "h2mon/win32/posix/errors.h"
#include "h2mon/win32/posix/handles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <dirent.h>
#include <sys/stat.h>

namespace {

class FileSearch : public HandleObject {
public:
    FileSearch(DIR* directory, std::string path, std::string pattern)
        : dir(directory), dir_path(std::move(path)), name_pattern(std::move(pattern)) {}
    ~FileSearch() override { closedir(dir); }

    // Fills found with the next matching entry; false at the end of the listing.
    bool next(LPWIN32_FIND_DATAA found);

private:
    DIR* dir;
    std::string dir_path;
    std::string name_pattern;
};

// Wildcard match in linear time: on a mismatch, the last '*' takes one more
// character and the match resumes after it.
bool matches(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') {
        ++pattern;
    }
    return *pattern == '\0';
}

// What wildcard expansion reads of a match: whether it is a directory, and its
// name. A link that leads nowhere is described by the link itself.
void describe(const std::string& path, const char* name, LPWIN32_FIND_DATAA found) {
    std::memset(found, 0, sizeof *found);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 && lstat(path.c_str(), &info) != 0) {
        info.st_mode = 0;
    }
    found->dwFileAttributes =
        S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    std::snprintf(found->cFileName, sizeof found->cFileName, "%s", name);
}

bool FileSearch::next(LPWIN32_FIND_DATAA found) {
    while (const struct dirent* entry = readdir(dir)) {
        if (matches(name_pattern.c_str(), entry->d_name)) {
            describe(dir_path + entry->d_name, entry->d_name, found);
            return true;
        }
    }
    return false;
}

} // namespace

// The directory is everything up to the last '/', the current one without it;
// the pattern is the rest.
HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
    const std::string path(fileName);
    const std::size_t separator = path.rfind('/');
    const std::string dir_path =
        separator == std::string::npos ? "" : path.substr(0, separator + 1);
    DIR* directory = opendir(dir_path.empty() ? "." : dir_path.c_str());
    if (directory == nullptr) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                         : win32_error_from_errno(errno));
        return INVALID_HANDLE_VALUE;
    }
    FileSearch* search = new FileSearch(directory, dir_path, path.substr(dir_path.size()));
    if (!search->next(findData)) {
        delete search;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return register_handle(search);
}

BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
    FileSearch* search = handle_object<FileSearch>(findFile);
    if (search == nullptr) {
        return FALSE;
    }
    if (!search->next(findData)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE findFile) {
    if (handle_object<FileSearch>(findFile) == nullptr) {
        return FALSE;
    }
    return CloseHandle(findFile);
}
