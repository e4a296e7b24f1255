// The console's own modes: h2mon changes a few of them while it runs and puts
// back at exit the modes it found, for the shell or whatever runs next in the
// same console window.
#pragma once

#include "h2mon/win32/win32.h"

enum class ConsoleSide {
    kInput,  // the console's input buffer, whatever standard input is
    kOutput, // standard output, when it is a console
};

// The mode of that side of the console; false when there is none.
bool console_mode(ConsoleSide side, DWORD* mode);

// Changes the mode of that side of the console: the bits of `set` on, those of
// `clear` off. The mode found before the first change is put back at exit. False
// when there is no such console, or it refuses the new mode (it then keeps its
// own).
bool change_console_mode(ConsoleSide side, DWORD set, DWORD clear);

// Puts back every mode found before a change; runs at exit.
void restore_console_modes();
