// Recoding text between Windows code pages.
#pragma once

#include "h2mon/win32/win32.h"

#include <string>

// `text` from code page `from` in code page `to`; characters that `to` lacks
// become a stand-in character. `text` unchanged when it cannot be recoded.
std::string recoded(const char* text, UINT from, UINT to);
