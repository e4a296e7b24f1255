// Conversions of value texts into booleans and numbers.
#pragma once

// False when the first character after leading white space is '0', 'f' or 'F';
// true otherwise, the empty and all-blank texts (and null) included.
bool parsebool(const char* text);

// A number, a quotient "a/b" or a product "a*b". Spaces followed by more text are
// ignored ("1 000" is 1000). A divisor smaller in magnitude than 1e-30 gives 0.0,
// as does a text that does not scan.
double parsedouble(const char* text);
