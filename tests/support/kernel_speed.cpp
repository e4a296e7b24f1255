#include "tests/support/kernel_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

unsigned kernel_output_speed_of(int fd) {
    termios2 line{};
    return ioctl(fd, TCGETS2, &line) == 0 ? line.c_ospeed : 0;
}
