#include "h2mon/failure_message.h"

#include "h2mon/win32/stdout_text.h"

#include <string>

void print_port_failure(const char* lead, const char* port_setting, COMPORT& port) {
    const std::string line =
        std::string(lead) + " " + port_setting + ": " + port.errortext(0, true) + "\n";
    std::fputs(stdout_text(line.c_str()).c_str(), stdout);
}
