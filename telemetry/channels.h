// The maser's telemetry frame and the channel table that gives it meaning.
#pragma once

#include <cstdint>
#include <string_view>

// The maser's poll, the only request it answers; RTS is raised around its
// first byte.
constexpr std::uint8_t kPoll[] = {0x01, 0x41, 0x00, 0x00, 0x00};
constexpr std::size_t kPollLength = sizeof kPoll;

// Bytes in one telemetry frame, the maser's answer to a poll.
constexpr int kFrameLength = 189;
// Rows of the channel table.
constexpr int kChannelCount = 44;
// Index of the table's last row; the CSV header ends its line after this row's name.
constexpr int kLastChannel = kChannelCount - 1;
// Room for the hexadecimal digits of any span within the frame, and a NUL.
constexpr int kChannelHexSize = 2 * kFrameLength + 1;

// One row of the channel table: a span of byte positions and how to show it.
// Positions count from 2 for the first byte received (buffer index = position - 2).
struct CHANNEL {
    std::int32_t first;      // position of the span's first byte
    std::int32_t last;       // position of the span's last byte (last >= first)
    const char* name;        // short name, printed in the CSV header and JSON-like form
    const char* description; // what the channel means; printed by no output form
    double scale;            // 0: the span is shown as hexadecimal digits
    double offset;           // added after scaling
};

extern const CHANNEL kChannels[kChannelCount];

// A row is shown when both ends of its span fall inside the frame buffer.
bool channel_shown(const CHANNEL& channel);

// The raw little-endian 16-bit two's-complement value of the span, times scale,
// plus offset. The frame holds at least kFrameLength bytes. A span of other than
// two bytes is a fault in the table: the program stops with an assertion.
double channel_value(const std::uint8_t* frame, const CHANNEL& channel);

// The span's bytes from its last position down to its first, each as two
// upper-case hexadecimal digits. `text` has room for 2 * span + 1 characters.
void channel_hex(const std::uint8_t* frame, const CHANNEL& channel, char* text);

// Bytes in the span of a channel.
inline int channel_bytes(const CHANNEL& channel) {
    return channel.last - channel.first + 1;
}

// The encoder, for frames made up by the simulator and the tests: stores the
// 16-bit value `raw` little-endian at the channel's two positions.
void channel_put_raw(std::uint8_t* frame, const CHANNEL& channel, std::uint16_t raw);

// Stores the raw value that decodes to `value`: round((value - offset) / scale),
// held to the 16-bit two's-complement range. The channel has a scale.
void channel_put_value(std::uint8_t* frame, const CHANNEL& channel, double value);

// The kinds of shown channel as the companions see them: a measurement with a
// scale, a code of the maser's FLL system (hexadecimal digits read as an
// unsigned number), and the reserved fields, which carry no agreed meaning.
enum class ChannelKind { kMeasurement, kCode, kReserved };

ChannelKind channel_kind(const CHANNEL& channel);

// The widest code that reads as a number: a double holds every integer up to
// 2^53, and six bytes (twelve digits, 48 bits) is the widest whole span below.
constexpr int kWidestNumberCode = 6;

// Whether a code's digits read as an unsigned number: no wider than kWidestNumberCode.
inline bool code_is_number(const CHANNEL& channel) {
    return channel_bytes(channel) <= kWidestNumberCode;
}

// The unit of a measurement, from the end of its name after the underscore,
// without a trailing number ("Ion_uA": "uA", "p27_V1": "V"); empty for codes
// and reserved fields, which are no physical quantity.
std::string_view channel_unit(const CHANNEL& channel);

// Whether `a` and `b` are the same name without regard to ASCII case.
bool same_ignoring_case(std::string_view a, const char* b);

// The table row whose name matches `name` without regard to ASCII case, or -1.
int channel_row_named(std::string_view name);

// The row of a name known to be in the table (a constant of the program); the
// program stops with an assertion otherwise.
const CHANNEL& channel_named(std::string_view name);
