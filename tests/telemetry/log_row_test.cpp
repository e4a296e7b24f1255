#include "telemetry/log_row.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

// The CSV header and one row for `frame`, as h2mon prints them.
std::string h2mon_csv(const std::uint8_t* frame) {
    std::string text = csv_header() + "\n" + csv_mjd(61384.290591);
    append_csv_fields(text, frame);
    return text + "\n";
}

TEST(LogRow, ReadsBackWhatH2monPrints) {
    std::mt19937 random(7);
    std::uint8_t frame[kFrameLength];
    for (int trial = 0; trial < 50; ++trial) {
        for (std::uint8_t& byte : frame) {
            byte = static_cast<std::uint8_t>(random());
        }
        const std::string csv = h2mon_csv(frame);
        const std::size_t header_end = csv.find('\n');
        LogRow row;
        ASSERT_EQ(row.parse(std::string_view(csv).substr(0, header_end)), LogLine::kHeader);
        const std::string line = csv.substr(header_end + 1, csv.size() - header_end - 2);
        ASSERT_EQ(row.parse(line), LogLine::kRow) << line;
        EXPECT_DOUBLE_EQ(row.mjd(), 61384.290591);
        EXPECT_EQ(row.mjd_text(), "61384.290591");
        EXPECT_TRUE(row.fields_well_formed());
        for (int r = 1; r < kChannelCount; ++r) {
            const CHANNEL& channel = kChannels[r];
            double value = -1;
            const bool parsed = row.value(r, &value);
            if (channel.scale != 0) {
                ASSERT_TRUE(parsed) << channel.name;
                char printed[64];
                std::snprintf(printed, sizeof printed, "%.3f", channel_value(frame, channel));
                EXPECT_EQ(value, std::strtod(printed, nullptr)) << channel.name;
            } else if (channel_bytes(channel) <= 6) {
                ASSERT_TRUE(parsed) << channel.name;
                double expected = 0;
                for (int p = channel.last; p >= channel.first; --p) {
                    expected = expected * 256 + frame[p - 2];
                }
                EXPECT_EQ(value, expected) << channel.name;
            } else {
                EXPECT_FALSE(parsed) << channel.name << " is wider than a double holds exactly";
            }
        }
    }
}

// A well-formed row to damage: the MJD, then every shown field as h2mon
// prints a frame of zeros.
std::string zero_row() {
    const std::uint8_t frame[kFrameLength] = {};
    const std::string csv = h2mon_csv(frame);
    const std::size_t start = csv.find('\n') + 1;
    return csv.substr(start, csv.size() - start - 1);
}

// Fields of every width, so that the commas fall at every place of the blocks
// the splitting looks at, and lines cut after every field.
TEST(LogRow, FieldsWhereverTheCommasFall) {
    for (int shift = 0; shift < 17; ++shift) {
        std::vector<std::string> fields = {"61384.5"};
        for (int row = 1; row < kChannelCount; ++row) {
            fields.push_back(std::string(static_cast<std::size_t>((row * 7 + shift) % 23), 'x'));
        }
        std::string line = fields[0];
        for (int row = 1; row < kChannelCount; ++row) {
            line += "," + fields[static_cast<std::size_t>(row)];
        }
        LogRow row;
        ASSERT_EQ(row.parse(line), LogLine::kRow) << line;
        for (int r = 1; r < kChannelCount; ++r) {
            ASSERT_EQ(row.field(r), fields[static_cast<std::size_t>(r)]) << "shift " << shift;
        }
        for (std::size_t cut = line.find(','); cut != std::string::npos;
             cut = line.find(',', cut + 1)) {
            ASSERT_EQ(row.parse(std::string_view(line).substr(0, cut)), LogLine::kMalformed);
            ASSERT_EQ(row.parse(line + line.substr(cut)), LogLine::kMalformed);
        }
    }
}

TEST(LogRow, ShapesOfLine) {
    const std::string good = zero_row();
    const struct {
        const char* what;
        std::string line;
        LogLine expected;
    } cases[] = {
        {"a row", good, LogLine::kRow},
        {"a row with a carriage return", good + "\r", LogLine::kRow},
        {"the header", "MJD,Batt_V,Ext_V", LogLine::kHeader},
        {"42 fields", good.substr(0, good.rfind(',')), LogLine::kMalformed},
        {"44 fields", good + ",00", LogLine::kMalformed},
        {"45 fields", good + ",00,00", LogLine::kMalformed},
        {"an empty line", "", LogLine::kMalformed},
        {"an MJD that is no number", "x" + good, LogLine::kMalformed},
        {"an MJD that is not finite", "nan" + good.substr(good.find(',')), LogLine::kMalformed},
        {"an empty MJD", good.substr(good.find(',')), LogLine::kMalformed},
        {"binary garbage", std::string("\x01\xff\0,,", 5), LogLine::kMalformed},
    };
    for (const auto& c : cases) {
        LogRow row;
        EXPECT_EQ(row.parse(c.line), c.expected) << c.what;
    }
}

TEST(LogRow, FieldsThatAreNoNumbers) {
    const int batt_v = channel_row_named("Batt_V");
    const int ccoarse = channel_row_named("CCoarse");
    const struct {
        int row;
        const char* text;
        bool parses;
    } cases[] = {
        {batt_v, "27.069", true},   {batt_v, "-14.937", true}, {batt_v, "", false},
        {batt_v, "27.069x", false}, {batt_v, " 27.0", false},  {batt_v, "inf", false},
        {batt_v, "1e5", false},     {ccoarse, "0A1f", true},   {ccoarse, "0A1", false},
        {ccoarse, "0A1G", false},   {ccoarse, "", false},      {ccoarse, "00000", false},
    };
    for (const auto& c : cases) {
        std::string line = zero_row();
        // Put the case's text in place of the row's field.
        std::size_t start = 0;
        for (int piece = 0; piece < c.row; ++piece) {
            start = line.find(',', start) + 1;
        }
        line.replace(start, line.find(',', start) - start, c.text);
        LogRow row;
        ASSERT_EQ(row.parse(line), LogLine::kRow) << line;
        double value;
        EXPECT_EQ(row.value(c.row, &value), c.parses)
            << kChannels[c.row].name << " '" << c.text << "'";
        EXPECT_EQ(row.fields_well_formed(), c.parses) << c.text;
    }
}

} // namespace

namespace {

// Every decimal h2mon can print, scaled by a power of ten, must read as the
// nearest double to the scaled number: what strtod makes of the digits with
// the exponent written after them.
TEST(ParseDecimal, ScaledByPowersOfTenRoundsOnce) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 20000; ++trial) {
        const long thousandths = static_cast<long>(random() % 200000000) - 100000000;
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", thousandths / 1000.0);
        for (int exponent : {-6, -3, 0, 3, 7}) {
            const std::string scaled = std::string(text) + "e" + std::to_string(exponent);
            double value = 0;
            ASSERT_TRUE(parse_decimal(text, exponent, &value)) << text;
            EXPECT_EQ(value, std::strtod(scaled.c_str(), nullptr)) << scaled;
        }
    }
    // More digits than the exact integer path takes go the general way.
    double value = 0;
    ASSERT_TRUE(parse_decimal("12345678901234567.125", -6, &value));
    EXPECT_EQ(value, std::strtod("12345678901234567.125e-6", nullptr));
    for (const char* bad : {"", "-", ".", "+1.0", "1.0.0", "1e5", "0x10", "--1"}) {
        EXPECT_FALSE(parse_decimal(bad, -6, &value)) << bad;
    }
}

} // namespace
