#include "h2mon/io/console_modes_windows.h"

#include <cstdlib>
#include <initializer_list>

namespace {

struct SavedMode {
    bool saved = false;
    DWORD mode = 0;
};

SavedMode saved_modes[2];

SavedMode& saved_mode(ConsoleSide side) {
    return saved_modes[side == ConsoleSide::kInput ? 0 : 1];
}

// The console's input buffer stays reachable by name when standard input is
// redirected; the handle is kept open for the restore at exit.
HANDLE console_input() {
    static const HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return input;
}

HANDLE handle_of(ConsoleSide side) {
    return side == ConsoleSide::kInput ? console_input() : GetStdHandle(STD_OUTPUT_HANDLE);
}

} // namespace

bool console_mode(ConsoleSide side, DWORD* mode) {
    const HANDLE handle = handle_of(side);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, mode);
}

bool change_console_mode(ConsoleSide side, DWORD set, DWORD clear) {
    DWORD mode = 0;
    if (!console_mode(side, &mode) || !SetConsoleMode(handle_of(side), (mode | set) & ~clear)) {
        return false;
    }
    SavedMode& found = saved_mode(side);
    if (!found.saved) {
        static const bool restore_at_exit = std::atexit(restore_console_modes) == 0;
        (void)restore_at_exit;
        found.saved = true;
        found.mode = mode;
    }
    return true;
}

void restore_console_modes() {
    for (ConsoleSide side : {ConsoleSide::kInput, ConsoleSide::kOutput}) {
        SavedMode& found = saved_mode(side);
        if (found.saved) {
            SetConsoleMode(handle_of(side), found.mode);
            found.saved = false;
        }
    }
}
