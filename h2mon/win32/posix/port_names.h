// The fixed mapping from Windows COM port names to Linux serial devices:
//
//   COM1  .. COM32   ->  /dev/ttyS0   .. /dev/ttyS31    (built-in UARTs)
//   COM33 .. COM64   ->  /dev/ttyUSB0 .. /dev/ttyUSB31  (USB serial adapters)
//   COM65 .. COM96   ->  /dev/ttyACM0 .. /dev/ttyACM31  (USB modem-class devices)
//   COM97 .. COM128  ->  /dev/ttyAMA0 .. /dev/ttyAMA31  (ARM on-chip UARTs)
//
// "COM" is matched without regard to case; the number is plain decimal without
// leading zeros or signs. Devices outside these families have no COM name.
#pragma once

#include <cstddef>

// "COM35" -> "ttyUSB2". False when the name is not a mapped COM name.
bool com_name_to_tty(const char* com_name, char* tty_name, std::size_t size);
