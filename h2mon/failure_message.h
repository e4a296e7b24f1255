// h2mon's messages for a port that failed, with the system's reason.
#pragma once

#include "h2mon/serial/comport.h"

// Prints "<lead> <port_setting>: <reason>" on standard output, where the reason
// is the system's text for the port's recorded error, and ends the line with
// exactly one line end (the system's texts bring one of their own, which text-mode
// output on Windows would double).
void print_port_failure(const char* lead, const char* port_setting, COMPORT& port);
