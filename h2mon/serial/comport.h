// COMPORT: one serial (COM) port. Opens and configures the port, drives its DTR
// and RTS lines, reads under time-outs through a small read-ahead, writes, turns
// system error numbers into text, lists the ports present and marks a port as
// taken for other processes.
//
// Error numbers are the system's (GetLastError): 0 for success. A failed read or
// write closes the port; every byte operation on a closed port returns at once.
// No operation prints anything. One object is used by one thread at a time; the
// texts returned by errortext, readbuf and readline live in buffers of the calling
// thread, valid until that thread calls the same operation again.
#pragma once

// <cstdio> first: it removes any C library macros named getc, putc or printf
// that would otherwise rewrite the operations of the same names below.
#include <cstdio>
#include <cstdint>

#include "h2mon/win32/win32.h"

// One entry of the port list built by enumerate.
struct PORTINFO {
    char szName[512]; // "COM%d" of nPort
    char szDesc[512]; // the device's description, possibly empty
    std::int32_t nPort;
};

class COMPORT {
public:
    static constexpr int kMaxPorts = 256;
    static constexpr int kMaxClassGuids = 256;
    static constexpr int kReadAheadSize = 64;
    // With these time-outs a ReadFile returns at once with the bytes already
    // waiting, or, when none are, as soon as one arrives or after 10 ms with
    // none. A WriteFile that the line holds off (flow control, an XOFF, a stuck
    // adapter) ends after 10 ms a byte (a byte takes 8.3 ms at 1200 baud) and
    // 500 ms more, with fewer bytes written than asked: a stop key, checked on
    // the same thread, is never kept waiting for long.
    static constexpr COMMTIMEOUTS kPortTimeouts = {MAXDWORD, MAXDWORD, 10, 10, 500};

    HANDLE hCOM;   // INVALID_HANDLE_VALUE while closed
    bool bDTRCtrl; // DTR enabled and switched by setdtr (chosen at open)
    DCB dcb;       // the line settings last given to SetCommState by open or setbaud
    DCB dcbSaved;  // the port's own settings, with the chosen DTR control; close restores them
    BYTE rxBuf[kReadAheadSize]; // bytes fetched from the port and not yet delivered
    std::int32_t nRxBuf;        // how many of them wait at the start of rxBuf
    bool bValid;                // both allocations of the constructor succeeded
    char szPath[MAX_PATH];      // device path of the last open, without mode string
    DWORD dwLastError;          // the last error number recorded by lasterror
    HANDLE hCOMSem;             // in-use marker kept by claim(name, true), or null
    PORTINFO* pPorts;           // kMaxPorts entries, filled by enumerate
    GUID* pClassGUIDs;          // kMaxClassGuids entries, used by enumerate
    DWORD nClassGUIDs;
    std::int32_t nPorts; // filled entries at the start of pPorts
    // Asked between the fetches of every read and drain, when set: once it
    // returns true the wait ends at once, as if its time-out had passed, with the
    // bytes read so far. A program's stop request can then never wait on the line.
    bool (*pfnStopWaiting)() = nullptr;

    COMPORT();
    COMPORT(const COMPORT&) = delete;
    COMPORT& operator=(const COMPORT&) = delete;

    // The operations, in their fixed slot order.
    virtual ~COMPORT();
    virtual bool isopen();
    // Reads GetLastError, records it in dwLastError and returns it.
    virtual DWORD lasterror();
    // The system's text for `number` (0: the recorded error), at most 255
    // characters; "Hosed" when the system has none. Trim removes trailing white
    // space, including the line end the system's texts carry.
    virtual const char* errortext(DWORD number, bool trim);
    // Lists the COM ports present that no one has claimed, in pPorts/nPorts. Without
    // a filter (null) every port but a "Toshiba BT Port" is listed; with one, only
    // ports whose description equals it (ASCII case ignored). Returns nPorts.
    virtual std::int32_t enumerate(const char* filter);
    virtual void setdtr(bool raise);
    virtual void setrts(bool raise);
    // Restores the port's own settings, lowers DTR, closes the handle and releases
    // a kept marker. Does nothing on a closed port.
    virtual void close();
    // Opens and configures a port named like "COM3", or "COM3:baud=9600 parity=N
    // data=8 stop=1" to take the line settings from the mode string instead of
    // `baud` and `byteSize`. Closes the port first if it is open.
    virtual DWORD open(const char* name, DWORD baud, bool dtrControl, bool dtrRaised,
                       BYTE byteSize);
    virtual DWORD setbaud(DWORD baud);
    // Formats (at most 4094 characters; longer output is cut) and writes the text.
    virtual DWORD printf(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    virtual DWORD putc(BYTE byte);
    // Writes `length` bytes; `written`, when not null, receives the count sent.
    virtual DWORD write(const void* bytes, DWORD length, DWORD* written);
    // Writes the text without its NUL; no line end is added.
    virtual DWORD puts(const char* text, DWORD* written);
    // Delivers one byte from the read-ahead, refilling it with one ReadFile of up
    // to 64 bytes when empty. *got is 0 when nothing came within the port's short
    // read time-out. Does not close the port on failure.
    virtual DWORD getc(HANDLE handle, BYTE* byte, std::int32_t* got);
    // Reads into a buffer of the calling thread (16384 bytes, no NUL added); a
    // count above 16384 or negative reads 16384. Null on failure or closed port.
    virtual const BYTE* readbuf(std::int32_t* count, std::int32_t totalTimeout,
                                std::int32_t interbyteTimeout, std::int32_t terminator);
    // Reads up to *count bytes into `destination` (or discards them when null) and
    // sets *count to the number read. Stops at the count, right after the
    // terminator byte (0..255; -1 for none), when no byte came within a total
    // time-out of 0 or more, when the magnitude of a negative total time-out has
    // passed, or when the inter-byte time-out passes after a byte. A time-out is
    // no error. On failure the port is closed and *count is not written.
    virtual DWORD read(void* destination, std::int32_t* count, std::int32_t totalTimeout,
                       std::int32_t interbyteTimeout, std::int32_t terminator);
    // read() returning the count read, or -1 on failure.
    virtual std::int32_t readcount(void* destination, std::int32_t count, std::int32_t totalTimeout,
                                   std::int32_t interbyteTimeout, std::int32_t terminator);
    // Reads a text of at most `maximum` characters (16383 when larger or negative)
    // into a buffer of the calling thread; the terminator, when it came, is its
    // last character. Empty on a closed port.
    virtual const char* readline(std::int32_t totalTimeout, std::int32_t interbyteTimeout,
                                 std::int32_t terminator, std::int32_t maximum);
    // Reads and discards whatever arrives for `milliseconds`, then empties the
    // read-ahead. Returns the number of bytes the read consumed.
    virtual std::int32_t drain(std::int32_t milliseconds);

    // Whether the line stays quiet for `milliseconds` (1 or more): *quiet is
    // true when no byte waits in the read-ahead and one fetch, with the port's
    // read time-out set to that long for it, brings none (a byte that comes is
    // taken). Returns an error number; on failure the port is closed, as by
    // read. On a closed port the line counts as quiet.
    DWORD quiet_for(DWORD milliseconds, bool* quiet);

    // True when the port `name` (up to any ":") is marked as taken by some holder
    // in any process. Otherwise, with `keep`, marks it as taken by this object
    // until release or close.
    bool claim(const char* name, bool keep);
    // Gives up the marker kept by claim, if any.
    void release();

private:
    DWORD fail_and_close();
    void set_line(DWORD baud, BYTE byteSize);
    // getc on the port; a failure closes it.
    DWORD take_byte(BYTE* byte, std::int32_t* got);
    DWORD receive(BYTE* destination, std::int32_t count, std::int32_t totalTimeout,
                  std::int32_t interbyteTimeout, std::int32_t terminator, std::int32_t* received);
};
