// The console device itself, whatever standard output is: the terminal or
// console window the program runs in.
#pragma once

// Writes one character straight to the console device, bypassing standard
// output; EOF when there is no console (the character is dropped).
int console_putch(int character);
