// h2mon's messages for a port that failed, with the system's reason.
#pragma once

#include "h2mon/serial/comport.h"

#include <string>

// "<lead> <port_setting>: <reason>", where the reason is the system's text for
// the port's recorded error, with exactly one line end (the system's texts bring
// one of their own, which text-mode output on Windows would double).
std::string port_failure_text(const char* lead, const char* port_setting, COMPORT& port);

// Prints that text on standard output.
void print_port_failure(const char* lead, const char* port_setting, COMPORT& port);
