// The console: a non-blocking key test, an unechoed key read, and character
// output straight to the console device.
#pragma once

// Non-zero when a key is waiting; never blocks.
int _kbhit();
// Reads one key without echoing it.
int _getch();
// Writes one character to the console device itself, bypassing standard output.
int _putch(int character);
