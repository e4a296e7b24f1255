// The usage text of h2mon. Each "$" is replaced by the current value of the
// option named at the start of its line when the text is printed.
#pragma once

constexpr const char* kUsageText =
    "____________________________________________________________________ \n"
    "                                                                     \n"
    "H2MON version 1.02 of Apr 17 2025    h2mon-maintainers@example.org  \n"
    "____________________________________________________________________ \n"
    "\n"
    "Usage: h2mon <arguments>\n"
    "\n"
    "Arguments:\n"
    "     /port:<name>         Maser COM port\n"
    "     /baud:<rate>         Baud rate            Default: $\n"
    "     /interval_ms:<msec>  Reading interval     Default: $\n"
    "     /fmt:<CSV|HEX|JSON>  Output format        Default: $\n"
    "     /tty                 Use colors and formatting for console output\n";
