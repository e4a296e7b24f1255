// SRC: a named source of levelled, printf-style messages.
//
// A message is formatted into the source's own buffer, trimmed at its end, kept
// as the last error when its level is 7 or more, and handed to an output routine
// that prints it on standard output when its level reaches the threshold. A
// source with a parent hands its messages to the parent's output instead.
// Nothing here allocates: every text lives in the fixed fields below, and a text
// too long for its field is cut.
#pragma once

#if defined(__GNUC__)
#define H2_PRINTF_FORMAT(format_index, first_argument)                                             \
    __attribute__((format(printf, format_index, first_argument)))
#else
#define H2_PRINTF_FORMAT(format_index, first_argument)
#endif

// Messages of this level and above are errors: they replace szLastError.
constexpr int kSrcErrorLevel = 7;
// Threshold of a new source, and the level of the usage text.
constexpr int kSrcDefaultLevel = 5;

class SRC {
public:
    SRC(const char* name = "", int level = kSrcDefaultLevel);
    virtual ~SRC();

    // Makes level the new threshold; returns the previous one.
    virtual int setlevel(int level);
    // Copies name (at most 511 characters); a null name is taken as empty.
    virtual void setname(const char* name);
    // Sets the parent (not owned) and returns the previous one. A parent's
    // threshold is taken over; with compose and a named parent the name becomes
    // "<parent>::<own name>". A null parent changes nothing but the pointer.
    virtual SRC* setparent(SRC* parent, bool compose);
    // Prints text and one line end on standard output when level reaches the
    // threshold. Always returns true.
    virtual bool output(SRC* source, int level, const char* text);
    // Formats, trims and issues one message; returns what output returned.
    virtual bool message(int level, const char* format, ...) H2_PRINTF_FORMAT(3, 4);

    char szLastError[4096]; // most recent message of an error level
    char szFormat[4096];    // the message being issued; scratch for composing names
    char szSrcName[512];
    int nLevel;
    SRC* pParent; // not owned
};
