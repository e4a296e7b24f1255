// Text of the system's (the system's error texts, the command line) on its way
// to standard output.
#pragma once

#include <string>

// `text` in the character set standard output shows. On Windows the system's
// texts come in the ANSI code page while a console shows its own (the OEM code
// page unless changed): for a console they are recoded, so that accented and
// Cyrillic letters come out readable. Redirected output keeps the ANSI code
// page, which is what Windows programs read files in. On Linux `text` is
// returned unchanged.
std::string stdout_text(const char* text);
