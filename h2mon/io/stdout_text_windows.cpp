#include "h2mon/io/stdout_text.h"

#include "h2mon/io/code_page_windows.h"
#include "h2mon/io/console_modes_windows.h"

std::string stdout_text(const char* text) {
    DWORD mode = 0;
    if (!console_mode(ConsoleSide::kOutput, &mode)) {
        return text;
    }
    return recoded(text, CP_ACP, GetConsoleOutputCP());
}
