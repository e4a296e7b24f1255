#include "h2mon/win32/stdout_text.h"

#include "h2mon/win32/windows/code_page.h"
#include "h2mon/win32/windows/console_modes.h"

std::string stdout_text(const char* text) {
    DWORD mode = 0;
    if (!console_mode(ConsoleSide::kOutput, &mode)) {
        return text;
    }
    return recoded(text, CP_ACP, GetConsoleOutputCP());
}
