// Internal invariants that must hold in every build, release included.
#pragma once

// Prints "Assertion failed: <expression>, file <file>, line <line>" on standard
// error and aborts. Standard output is flushed first so that the records written
// before the failure are not lost with the process.
[[noreturn]] void h2_assert_fail(const char* expression, const char* file, int line);

#if defined(__FILE_NAME__)
#define H2_SOURCE_FILE __FILE_NAME__
#else
#define H2_SOURCE_FILE __FILE__
#endif

#define H2_ASSERT(expression)                                                                      \
    ((expression) ? (void)0 : h2_assert_fail(#expression, H2_SOURCE_FILE, __LINE__))
