// The kernel's own record of a terminal's speed (termios2), which the C
// library's termios cannot show for arbitrary rates. Kept apart because the
// kernel's record and <termios.h> cannot share a file.
#pragma once

unsigned kernel_output_speed_of(int fd);
