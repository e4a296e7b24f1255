// press_key: types one key on the console of another process, as a person at
// that console would.
//
//     press_key <process id | image name> [character]
//
// The target is a process id, or the file name of a running program
// ("h2mon.exe"), which must match exactly one process. The character (default
// "q") arrives as a key-down and a key-up record in the console's input buffer.
// Exit code 0 when both records were written; otherwise 1 (bad arguments, no
// or several matching processes) or 2 (no console to attach to, or the write
// failed), with the reason on standard error.
#include "tests/wine/target_process.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

KEY_EVENT_RECORD key_event(char character, bool down) {
    KEY_EVENT_RECORD key{};
    key.bKeyDown = down ? TRUE : FALSE;
    key.wRepeatCount = 1;
    // Letters and digits have their upper-case character as virtual-key code.
    key.wVirtualKeyCode = static_cast<WORD>(std::toupper(static_cast<unsigned char>(character)));
    key.uChar.AsciiChar = character;
    return key;
}

// Writes a key-down and a key-up record of `character` to the input buffer of
// the console that process `id` is attached to.
int press(DWORD id, char character) {
    if (!attach_to_console_of(id)) {
        return 2;
    }
    HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "press_key: cannot open the console input (error %lu)\n",
                     GetLastError());
        return 2;
    }
    INPUT_RECORD records[2]{};
    for (int i = 0; i < 2; ++i) {
        records[i].EventType = KEY_EVENT;
        records[i].Event.KeyEvent = key_event(character, i == 0);
    }
    DWORD written = 0;
    const BOOL ok = WriteConsoleInputA(input, records, 2, &written);
    const DWORD error = GetLastError();
    CloseHandle(input);
    if (!ok || written != 2) {
        std::fprintf(stderr, "press_key: %lu of 2 key records written (error %lu)\n", written,
                     error);
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::strlen(argv[2]) != 1)) {
        std::fprintf(stderr, "usage: press_key <process id | image name> [character]\n");
        return 1;
    }
    const DWORD id = target_process(argv[1]);
    if (id == 0) {
        return 1;
    }
    return press(id, argc == 3 ? argv[2][0] : 'q');
}
