// Case-insensitive string comparison, as the Windows C runtime provides it.
#pragma once

// Compares two texts, folding the ASCII letters A to Z to lower case only.
int _stricmp(const char* a, const char* b);
