// Conversions of value texts into booleans and numbers.
#pragma once

// False when the first character after leading white space is '0', 'f' or 'F';
// true otherwise, the empty and all-blank texts (and null) included.
bool parsebool(const char* text);

// A 32-bit signed number scanned as "%d" does: leading white space, an optional
// sign, decimal digits; what follows is ignored, and a text without digits gives
// 0. Returns false, with *value 0, when the digits do not fit the type (where
// "%d" has no defined result).
bool parseint(const char* text, int* value);

// A number, a quotient "a/b" or a product "a*b". Spaces followed by more text are
// ignored ("1 000" is 1000). A divisor smaller in magnitude than 1e-30 gives 0.0,
// as does a text that does not scan.
double parsedouble(const char* text);
