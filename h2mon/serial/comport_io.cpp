// COMPORT: byte input through the read-ahead, timed reads, and writes.
#include "h2mon/serial/comport.h"

#include "h2mon/win32/calls.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>

namespace {

const PlatformCalls& os() {
    return platform_calls();
}

constexpr std::int32_t kNoTerminator = -1;
constexpr std::int32_t kForever = INT32_MAX;
constexpr std::uint32_t kReadBufSize = 16384;
constexpr std::uint32_t kLineSize = 16384;
constexpr std::size_t kPrintfBufferSize = 4096;
// vsnprintf's limit: at most 4094 characters and a NUL reach the line.
constexpr std::size_t kPrintfLimit = kPrintfBufferSize - 1;

// Milliseconds from `since` to `now` on the wrapping 32-bit clock, as a signed
// value, so that differences stay right across the wrap.
std::int32_t elapsed(DWORD since, DWORD now) {
    return static_cast<std::int32_t>(now - since);
}

// The magnitude of a time-out, computed wide so that INT32_MIN has one too.
std::int64_t magnitude(std::int32_t timeout) {
    return timeout < 0 ? -static_cast<std::int64_t>(timeout) : timeout;
}

// A count taken as an unsigned number and limited: negative counts become the limit.
std::int32_t clamp_unsigned(std::int32_t count, std::uint32_t limit) {
    const std::uint32_t as_unsigned = static_cast<std::uint32_t>(count);
    return static_cast<std::int32_t>(as_unsigned > limit ? limit : as_unsigned);
}

} // namespace

DWORD COMPORT::getc(HANDLE handle, BYTE* byte, std::int32_t* got) {
    if (nRxBuf < 1) {
        DWORD fetched = 0;
        if (!os().ReadFile(handle, rxBuf, sizeof rxBuf, &fetched, nullptr)) {
            return lasterror();
        }
        nRxBuf = static_cast<std::int32_t>(fetched);
        if (nRxBuf < 1) {
            *got = 0;
            return 0;
        }
    }
    *got = 1;
    *byte = rxBuf[0];
    --nRxBuf;
    std::memmove(rxBuf, rxBuf + 1, static_cast<std::size_t>(nRxBuf));
    return 0;
}

DWORD COMPORT::take_byte(BYTE* byte, std::int32_t* got) {
    const DWORD error = getc(hCOM, byte, got);
    if (error != 0) {
        close();
    }
    return error;
}

// The timed read behind read, readline and drain. *received counts the bytes
// taken from the port, also when a failing fetch ends the read (the port is then
// closed and the error returned).
DWORD COMPORT::receive(BYTE* destination, std::int32_t count, std::int32_t totalTimeout,
                       std::int32_t interbyteTimeout, std::int32_t terminator,
                       std::int32_t* received) {
    *received = 0;
    const DWORD start = os().timeGetTime();
    DWORD last = 0;
    // No gap can end the read before its first byte.
    std::int64_t gapLimit = kForever;
    const std::int64_t totalLimit = magnitude(totalTimeout);

    while (*received < count) {
        BYTE byte = 0;
        std::int32_t got = 0;
        if (const DWORD error = take_byte(&byte, &got)) {
            return error;
        }
        if (got) {
            last = os().timeGetTime();
            gapLimit = interbyteTimeout;
            if (destination != nullptr) {
                destination[*received] = byte;
            }
            ++*received;
            if (terminator != kNoTerminator && byte == terminator) {
                break;
            }
        }
        const DWORD now = os().timeGetTime();
        if (elapsed(start, now) > totalLimit && (totalTimeout < 0 || *received == 0)) {
            break;
        }
        if (elapsed(last, now) > gapLimit) {
            break;
        }
        if (pfnStopWaiting != nullptr && pfnStopWaiting()) {
            break;
        }
    }
    return 0;
}

DWORD COMPORT::read(void* destination, std::int32_t* count, std::int32_t totalTimeout,
                    std::int32_t interbyteTimeout, std::int32_t terminator) {
    if (!isopen()) {
        *count = 0;
        return 0;
    }
    std::int32_t received = 0;
    const DWORD error = receive(static_cast<BYTE*>(destination), *count, totalTimeout,
                                interbyteTimeout, terminator, &received);
    if (error != 0) {
        return error;
    }
    *count = received;
    return 0;
}

std::int32_t COMPORT::readcount(void* destination, std::int32_t count, std::int32_t totalTimeout,
                                std::int32_t interbyteTimeout, std::int32_t terminator) {
    std::int32_t n = count;
    if (read(destination, &n, totalTimeout, interbyteTimeout, terminator) != 0) {
        return -1;
    }
    return n;
}

const BYTE* COMPORT::readbuf(std::int32_t* count, std::int32_t totalTimeout,
                             std::int32_t interbyteTimeout, std::int32_t terminator) {
    thread_local BYTE buffer[kReadBufSize];
    if (!isopen()) {
        return nullptr;
    }
    std::memset(buffer, 0, sizeof buffer);
    *count = clamp_unsigned(*count, kReadBufSize);
    if (read(buffer, count, totalTimeout, interbyteTimeout, terminator) != 0) {
        return nullptr;
    }
    return buffer;
}

const char* COMPORT::readline(std::int32_t totalTimeout, std::int32_t interbyteTimeout,
                              std::int32_t terminator, std::int32_t maximum) {
    thread_local char line[kLineSize];
    line[0] = '\0';
    if (!isopen()) {
        return line;
    }
    const std::int32_t n = clamp_unsigned(maximum, kLineSize - 1);
    // The text ends after the bytes that came, also when the read failed part way:
    // nothing an earlier call left in the buffer shows through.
    std::int32_t received = 0;
    receive(reinterpret_cast<BYTE*>(line), n, totalTimeout, interbyteTimeout, terminator,
            &received);
    line[received] = '\0';
    return line;
}

std::int32_t COMPORT::drain(std::int32_t milliseconds) {
    if (!isopen()) {
        return 0;
    }
    // A negative total bounds the whole read; the inter-byte limit of the same
    // size cannot end it sooner. A failed read has closed the port; the bytes it
    // consumed until then are still counted.
    const std::int32_t total =
        static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(milliseconds));
    std::int32_t received = 0;
    receive(nullptr, kForever, total, milliseconds, kNoTerminator, &received);
    nRxBuf = 0;
    return received;
}

DWORD COMPORT::quiet_for(DWORD milliseconds, bool* quiet) {
    *quiet = nRxBuf == 0;
    if (!isopen() || !*quiet) {
        return 0;
    }
    COMMTIMEOUTS timeouts = kPortTimeouts;
    timeouts.ReadTotalTimeoutConstant = milliseconds;
    if (!os().SetCommTimeouts(hCOM, &timeouts)) {
        return fail_and_close();
    }
    BYTE byte = 0;
    std::int32_t got = 0;
    if (const DWORD error = take_byte(&byte, &got)) {
        return error;
    }
    timeouts = kPortTimeouts;
    if (!os().SetCommTimeouts(hCOM, &timeouts)) {
        return fail_and_close();
    }
    *quiet = got == 0;
    return 0;
}

DWORD COMPORT::write(const void* bytes, DWORD length, DWORD* written) {
    if (!isopen()) {
        return 0;
    }
    DWORD sent = 0;
    const BOOL ok = os().WriteFile(hCOM, bytes, length, &sent, nullptr);
    if (written != nullptr) {
        *written = sent;
    }
    if (!ok) {
        return fail_and_close();
    }
    if (sent < length) {
        // The write time-out passed with bytes not taken: the line held them off.
        dwLastError = ERROR_TIMEOUT;
        close();
        return dwLastError;
    }
    return 0;
}

DWORD COMPORT::putc(BYTE byte) {
    return write(&byte, 1, nullptr);
}

DWORD COMPORT::puts(const char* text, DWORD* written) {
    return write(text, static_cast<DWORD>(std::strlen(text)), written);
}

DWORD COMPORT::printf(const char* format, ...) {
    if (!isopen()) {
        return 0;
    }
    char buffer[kPrintfBufferSize];
    buffer[0] = '\0';
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, kPrintfLimit, format, arguments);
    va_end(arguments);
    return write(buffer, static_cast<DWORD>(std::strlen(buffer)), nullptr);
}
