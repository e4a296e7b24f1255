#include "h2mon/failure_message.h"

#include "h2mon/io/stdout_text.h"

#include <string>

std::string port_failure_text(const char* lead, const char* port_setting, COMPORT& port) {
    const std::string line =
        std::string(lead) + " " + port_setting + ": " + port.errortext(0, true) + "\n";
    return stdout_text(line.c_str());
}

void print_port_failure(const char* lead, const char* port_setting, COMPORT& port) {
    std::fputs(port_failure_text(lead, port_setting, port).c_str(), stdout);
}
