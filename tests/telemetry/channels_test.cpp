#include "telemetry/channels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ChannelTable, RowsTileTheFrameAndScaledRowsSpanTwoBytes) {
    int next_position = 1;
    for (const CHANNEL& channel : kChannels) {
        EXPECT_EQ(channel.first, next_position) << channel.name;
        EXPECT_GE(channel.last, channel.first) << channel.name;
        if (channel.scale != 0) {
            EXPECT_EQ(channel.last - channel.first, 1) << channel.name;
        }
        next_position = channel.last + 1;
    }
    EXPECT_EQ(next_position, kFrameLength + 1);
}

TEST(ChannelTable, OnlyTheFirstRowIsHidden) {
    EXPECT_FALSE(channel_shown(kChannels[0]));
    for (int row = 1; row < kChannelCount; ++row) {
        EXPECT_TRUE(channel_shown(kChannels[row])) << kChannels[row].name;
    }
    EXPECT_STREQ(kChannels[kLastChannel].name, "RsvdDT2");
    // A span reaching below the frame's first byte is hidden at either end.
    EXPECT_FALSE(channel_shown(CHANNEL{2, 1, "", "", 0, 0}));
    EXPECT_TRUE(channel_shown(CHANNEL{2, 2, "", "", 0, 0}));
}

// A frame whose bytes are all 0xA5 except the given span, so that a decoder
// reading outside its span shows.
struct Frame {
    std::uint8_t bytes[kFrameLength];
    Frame() { std::memset(bytes, 0xA5, sizeof bytes); }
    Frame& at(int position, std::uint8_t value) {
        bytes[position - 2] = value;
        return *this;
    }
};

TEST(ChannelValue, LittleEndianSignedSixteenBitsScaledThenOffset) {
    const CHANNEL& batt_v = kChannels[1];
    const CHANNEL& h2_atm = kChannels[29];
    struct Case {
        const CHANNEL& channel;
        std::uint8_t low, high;
        double expected;
    };
    const Case cases[] = {
        {batt_v, 0x34, 0x12, 4660 * 0.016336},
        {batt_v, 0x00, 0x80, -32768 * 0.016336},
        {batt_v, 0xFF, 0x7F, 32767 * 0.016336},
        {batt_v, 0xFF, 0xFF, -1 * 0.016336},
        {batt_v, 0x00, 0x00, 0.0},
        {h2_atm, 0x00, 0x00, -2.0},
        {h2_atm, 0xC8, 0x00, 200 * 0.0149755 - 2},
    };
    for (const Case& c : cases) {
        Frame frame;
        frame.at(c.channel.first, c.low).at(c.channel.last, c.high);
        EXPECT_DOUBLE_EQ(channel_value(frame.bytes, c.channel), c.expected)
            << c.channel.name << " " << int(c.low) << " " << int(c.high);
    }
}

std::string hex_of(const Frame& frame, const CHANNEL& channel) {
    char text[kChannelHexSize];
    channel_hex(frame.bytes, channel, text);
    return text;
}

TEST(ChannelHex, LastPositionFirstInUpperCaseDigits) {
    const CHANNEL& rsvd_dt1 = kChannels[31]; // positions 68 to 127
    Frame frame;
    frame.at(68, 0x01).at(127, 0xFE);
    const std::string digits = hex_of(frame, rsvd_dt1);
    EXPECT_EQ(digits.size(), 120u);
    EXPECT_EQ(digits.substr(0, 4), "FEA5");
    EXPECT_EQ(digits.substr(116), "A501");

    const CHANNEL& ffcorr_l = kChannels[33]; // position 130 alone
    EXPECT_EQ(hex_of(frame.at(130, 0xab), ffcorr_l), "AB");

    const CHANNEL& rsvd_dt2 = kChannels[43]; // positions 164 to 189, buffer end
    frame.at(164, 0x10).at(189, 0x0c);
    const std::string tail = hex_of(frame, rsvd_dt2);
    EXPECT_EQ(tail.size(), 52u);
    EXPECT_EQ(tail.substr(0, 2), "0C");
    EXPECT_EQ(tail.substr(50), "10");
}

TEST(ChannelLookup, NamesWithoutRegardToCaseAndKinds) {
    const struct {
        const char* name;
        int row;
        ChannelKind kind;
    } cases[] = {
        {"Batt_V", 1, ChannelKind::kMeasurement},  {"ion_ua", 19, ChannelKind::kMeasurement},
        {"H2_ATM", 29, ChannelKind::kMeasurement}, {"ccoarse", 37, ChannelKind::kCode},
        {"2h_v", 35, ChannelKind::kCode},          {"FFCorrL", 33, ChannelKind::kCode},
        {"rsvd2", 14, ChannelKind::kReserved},     {"RsvdDT2", 43, ChannelKind::kReserved},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(channel_row_named(c.name), c.row) << c.name;
        EXPECT_EQ(channel_kind(kChannels[c.row]), c.kind) << c.name;
    }
    for (const char* unknown : {"", "Batt", "Batt_V ", "Batt_VV", "MJD"}) {
        EXPECT_EQ(channel_row_named(unknown), -1) << unknown;
    }
}

TEST(ChannelUnit, FromTheNameOfMeasurementsOnly) {
    const struct {
        const char* name;
        const char* unit;
    } cases[] = {
        {"Batt_V", "V"}, {"p27_V1", "V"},   {"f20p4M_V", "V"}, {"Ion_kV", "kV"}, {"Ion_uA", "uA"},
        {"Pure_A", "A"}, {"H2_atm", "atm"}, {"2H_V", ""},      {"FFCorrH", ""},  {"Rsvd2", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(channel_unit(kChannels[channel_row_named(c.name)]), c.unit) << c.name;
    }
}

TEST(ChannelEncoder, ValuesDecodeBackThroughTheChannelTable) {
    struct Case {
        const char* name;
        double value;
        double decoded; // what the nearest raw value decodes to, within scale / 2
    };
    const Case cases[] = {
        {"Batt_V", 26.9, 26.9},           {"n15_V", -14.97, -14.97},         {"H2_atm", 0.3, 0.3},
        {"H2_atm", -2.0, -2.0}, // raw 0: the offset alone
        {"Ion_uA", 1e6, 32767 * 0.24414}, {"n15_V", -1e6, -32768 * 0.01645},
    };
    for (const Case& c : cases) {
        std::uint8_t frame[kFrameLength] = {};
        const CHANNEL& channel = channel_named(c.name);
        channel_put_value(frame, channel, c.value);
        EXPECT_NEAR(channel_value(frame, channel), c.decoded, channel.scale / 2 + 1e-9)
            << c.name << " " << c.value;
    }
    std::uint8_t frame[kFrameLength] = {};
    channel_put_raw(frame, channel_named("Batt_V"), 0x1234);
    EXPECT_EQ(frame[2], 0x34); // position 4 is the low byte
    EXPECT_EQ(frame[3], 0x12);
}

} // namespace
