#include "h2mon/io/console_device.h"

#include <conio.h>

int console_putch(int character) {
    return _putch(character);
}
