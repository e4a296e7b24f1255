#include "tests/wine/target_process.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool parse_process_id(const char* text, DWORD* id) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        return false;
    }
    *id = static_cast<DWORD>(value);
    return true;
}

// How many running processes have the image file `name`, and the id of one.
int processes_named(const char* name, DWORD* found) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int matches = 0;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, name) == 0) {
            *found = entry.th32ProcessID;
            ++matches;
        }
    }
    CloseHandle(snapshot);
    return matches;
}

// The id of the only running process whose image file is `name`; 0 when none or
// several match (reported on standard error).
DWORD find_process(const char* name) {
    DWORD found = 0;
    const int matches = processes_named(name, &found);
    if (matches != 1) {
        std::fprintf(stderr, "%d processes named %s\n", matches, name);
        return 0;
    }
    return found;
}

} // namespace

DWORD target_process(const char* text) {
    DWORD id = 0;
    return parse_process_id(text, &id) ? id : find_process(text);
}

DWORD wait_for_process(const char* name, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    DWORD found = 0;
    while (processes_named(name, &found) != 1) {
        if (GetTickCount() - start > timeout_ms) {
            std::fprintf(stderr, "no single process named %s\n", name);
            return 0;
        }
        Sleep(1);
    }
    return found;
}

bool attach_to_console_of(DWORD id) {
    FreeConsole(); // a process is attached to at most one console
    if (!AttachConsole(id)) {
        std::fprintf(stderr, "no console of process %lu (error %lu)\n", id, GetLastError());
        return false;
    }
    return true;
}
