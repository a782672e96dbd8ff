#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "CommandTable.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RowBytes(const CommandFrame& frame) {
    return Bytes(frame.bytes.begin(), frame.bytes.begin() + static_cast<long>(frame.size()));
}

FrameParameters Params(std::uint32_t address, std::uint32_t newAddress = 0, int baudIndex = 2,
                       double declination = -0.1) {
    FrameParameters p;
    p.address = address;
    p.newAddress = newAddress;
    p.baudIndex = baudIndex;
    p.declination = declination;
    return p;
}

TEST(CommandTable, StartsWithTheSixteenTemplates) {
    const struct {
        CommandRow row;
        Bytes bytes;
    } cases[] = {
        {CMD_READ, {0x68, 0x04, 0x00, 0x04, 0x08}},
        {CMD_SET_ADDRESS, {0x68, 0x05, 0x00, 0x0F, 0x01, 0x15}},
        {CMD_SET_BAUD, {0x68, 0x05, 0x00, 0x0B, 0x02, 0x12}},
        {CMD_SET_ZERO, {0x68, 0x05, 0x00, 0x05, 0x01, 0x0B}},
        {CMD_CANCEL_ZERO, {0x68, 0x05, 0x00, 0x05, 0x00, 0x0A}},
        {CMD_AUTO_OUTPUT, {0x68, 0x05, 0x00, 0x0C, 0x01, 0x12}},
        {CMD_ANSWER_MODE, {0x68, 0x05, 0x00, 0x0C, 0x00, 0x11}},
        {CMD_MOUNT_HORIZONTAL, {0x68, 0x05, 0x00, 0x2A, 0x00, 0x2F}},
        {CMD_MOUNT_VERTICAL, {0x68, 0x05, 0x00, 0x2A, 0x01, 0x30}},
        {CMD_CAL_START, {0x68, 0x04, 0x00, 0x08, 0x0C}},
        {CMD_CAL_STOP, {0x68, 0x04, 0x00, 0x09, 0x0D}},
        {CMD_CAL_M_MODE, {0x68, 0x04, 0x00, 0x43, 0x47}},
        {CMD_CAL_SAVE, {0x68, 0x04, 0x00, 0x0A, 0x0E}},
        {CMD_CAL_MANUAL, {0x68, 0x04, 0x00, 0x45, 0x49}},
        {CMD_SET_DECLINATION, {0x68, 0x06, 0x00, 0x06, 0x02, 0x08, 0x16}},
        {CMD_CAL_A_MODE, {0x68, 0x04, 0x00, 0x44, 0x48}},
    };
    ASSERT_EQ(std::size(cases), static_cast<std::size_t>(kCommandRowCount));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(RowBytes(CommandTableRow(c.row)), c.bytes);
        // Every template carries the right checksum for address 00.
        EXPECT_EQ(FrameChecksum(c.bytes.data()), c.bytes.back());
    }
}

TEST(CommandTable, StampKnownAnswers) {
    const struct {
        const char* what;
        CommandRow row;
        FrameParameters params;
        Bytes expected;
    } cases[] = {
        {"read, address 0", CMD_READ, Params(0), {0x68, 0x04, 0x00, 0x04, 0x08}},
        {"read, address 1", CMD_READ, Params(1), {0x68, 0x04, 0x01, 0x04, 0x09}},
        {"read, address 255 wraps the checksum",
         CMD_READ,
         Params(255),
         {0x68, 0x04, 0xFF, 0x04, 0x07}},
        {"read, address 256 sends 00", CMD_READ, Params(256), {0x68, 0x04, 0x00, 0x04, 0x08}},
        {"read, address 300 sends 2C", CMD_READ, Params(300), {0x68, 0x04, 0x2C, 0x04, 0x34}},
        {"new address 5 to module 1",
         CMD_SET_ADDRESS,
         Params(1, 5),
         {0x68, 0x05, 0x01, 0x0F, 0x05, 0x1A}},
        {"new address 0x1FF sends FF",
         CMD_SET_ADDRESS,
         Params(1, 0x1FF),
         {0x68, 0x05, 0x01, 0x0F, 0xFF, 0x14}},
        {"baud 9600 to module 1",
         CMD_SET_BAUD,
         Params(1, 0, 2),
         {0x68, 0x05, 0x01, 0x0B, 0x02, 0x13}},
        {"baud without selection",
         CMD_SET_BAUD,
         Params(1, 0, -1),
         {0x68, 0x05, 0x01, 0x0B, 0xFF, 0x10}},
        {"baud 115200", CMD_SET_BAUD, Params(0, 0, 5), {0x68, 0x05, 0x00, 0x0B, 0x05, 0x15}},
        {"declination -12.37 ignores address 3",
         CMD_SET_DECLINATION,
         Params(3, 0, 2, -12.37),
         {0x68, 0x06, 0x00, 0x06, 0x11, 0x23, 0x40}},
        {"declination -0.1 ignores address 3",
         CMD_SET_DECLINATION,
         Params(3, 0, 2, -0.1),
         {0x68, 0x06, 0x00, 0x06, 0x10, 0x01, 0x1D}},
        {"A-mode checksum 48", CMD_CAL_A_MODE, Params(0), {0x68, 0x04, 0x00, 0x44, 0x48}},
        {"auto output to module 2",
         CMD_AUTO_OUTPUT,
         Params(2),
         {0x68, 0x05, 0x02, 0x0C, 0x01, 0x14}},
        {"zero to module 0x10", CMD_SET_ZERO, Params(0x10), {0x68, 0x05, 0x10, 0x05, 0x01, 0x1B}},
        {"vertical to module 1",
         CMD_MOUNT_VERTICAL,
         Params(1),
         {0x68, 0x05, 0x01, 0x2A, 0x01, 0x31}},
        {"calibration start to module 7", CMD_CAL_START, Params(7), {0x68, 0x04, 0x07, 0x08, 0x13}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CommandFrame& stamped = StampCommandRow(c.row, c.params);
        EXPECT_EQ(RowBytes(stamped), c.expected);
        EXPECT_EQ(&stamped, &CommandTableRow(c.row));
    }
}

TEST(CommandTable, RowKeepsTheBytesOfItsLastSend) {
    StampCommandRow(CMD_SET_BAUD, Params(9, 0, 4));
    StampCommandRow(CMD_READ, Params(9));
    EXPECT_EQ(RowBytes(CommandTableRow(CMD_SET_BAUD)), (Bytes{0x68, 0x05, 0x09, 0x0B, 0x04, 0x1D}));
    EXPECT_EQ(RowBytes(CommandTableRow(CMD_READ)), (Bytes{0x68, 0x04, 0x09, 0x04, 0x11}));
    // Rows not sent keep their templates.
    EXPECT_EQ(RowBytes(CommandTableRow(CMD_CAL_STOP)), (Bytes{0x68, 0x04, 0x00, 0x09, 0x0D}));

    StampCommandRow(CMD_SET_DECLINATION, Params(9, 0, 2, 2.8));
    EXPECT_EQ(RowBytes(CommandTableRow(CMD_SET_DECLINATION)),
              (Bytes{0x68, 0x06, 0x00, 0x06, 0x00, 0x28, 0x34}));
    // A later send with other parameters replaces them.
    StampCommandRow(CMD_SET_BAUD, Params(1, 0, 0));
    EXPECT_EQ(RowBytes(CommandTableRow(CMD_SET_BAUD)), (Bytes{0x68, 0x05, 0x01, 0x0B, 0x00, 0x11}));
}

TEST(FrameChecksum, SumsBytesOneToLMinusOneModulo256) {
    const Bytes frame = {0x68, 0x0D, 0x01, 0x84, 0x10, 0x12, 0x34,
                         0x00, 0x05, 0x60, 0x03, 0x59, 0x99, 0x42};
    EXPECT_EQ(FrameChecksum(frame.data()), 0x42);
    const Bytes wrapping = {0x68, 0x05, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_EQ(FrameChecksum(wrapping.data()), 0x02);
}

TEST(FrameToHexText, TwoLowerCaseDigitsAndABlankPerByte) {
    const Bytes read = {0x68, 0x04, 0x01, 0x04, 0x09};
    EXPECT_EQ(FrameToHexText(read.data(), read.size()), "68 04 01 04 09 ");
    const Bytes high = {0xAB, 0xFF, 0x00, 0xC0};
    EXPECT_EQ(FrameToHexText(high.data(), high.size()), "ab ff 00 c0 ");
    EXPECT_EQ(FrameToHexText(read.data(), 0), "");
}

TEST(HexTextToBytes, ParsesPairsAndStopsWhereTheRulesSay) {
    const struct {
        const char* what;
        std::string text;
        Bytes expected;
    } cases[] = {
        {"formatter text of five bytes", "68 04 01 04 09 ", {0x68, 0x04, 0x01, 0x04, 0x09}},
        {"one digit", "6", {}},
        {"lone trailing digit ignored", "12 3", {0x12}},
        {"bad pair ends the parse", "12 G1 34", {0x12}},
        {"empty", "", {}},
        {"blank inside a pair", "1 2", {}},
        {"upper case", "AB CD EF", {0xAB, 0xCD, 0xEF}},
        {"lower case", "ab cd ef", {0xAB, 0xCD, 0xEF}},
        {"mixed case, no blanks", "aBcD", {0xAB, 0xCD}},
        {"several blanks between and before pairs", "  12   34  ", {0x12, 0x34}},
        {"tab is not a blank", "12\t34", {0x12}},
        {"digits only after an odd split", "1234 5", {0x12, 0x34}},
        {"bytes of 0x80 and above are not digits", "12 \xB1\xB2 34", {0x12}},
        {"high byte first",
         "\xE1"
         "2",
         {}},
        {"only blanks", "    ", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Whatever the array held before is replaced.
        Bytes out(7, 0xEE);
        const std::size_t n = HexTextToBytes(c.text, out);
        EXPECT_EQ(n, c.expected.size());
        EXPECT_EQ(out, c.expected);
    }
}

TEST(HexTextToBytes, ReadsBackEveryByteTheFormatterWrites) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    Bytes out;
    EXPECT_EQ(HexTextToBytes(FrameToHexText(all.data(), all.size()), out), all.size());
    EXPECT_EQ(out, all);
}

TEST(HexDigitValue, MapsTheTwentyTwoDigitsAndNothingElse) {
    const struct {
        char c;
        std::uint8_t value;
    } cases[] = {
        {'0', 0},       {'9', 9},       {'A', 10},      {'F', 15},    {'a', 10},   {'f', 15},
        {'c', 12},      {'D', 13},      {'G', 0xFF},    {'g', 0xFF},  {'/', 0xFF}, {':', 0xFF},
        {'@', 0xFF},    {'`', 0xFF},    {' ', 0xFF},    {'\0', 0xFF}, {'x', 0xFF}, {'\xB0', 0xFF},
        {'\xC1', 0xFF}, {'\xE1', 0xFF}, {'\xFF', 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(c.c)));
        EXPECT_EQ(HexDigitValue(c.c), c.value);
    }
    int digits = 0;
    for (int i = 0; i < 256; ++i) {
        if (HexDigitValue(static_cast<char>(i)) != 0xFF) {
            ++digits;
        }
    }
    EXPECT_EQ(digits, 22);
}

TEST(EncodeDeclination, KnownAnswers) {
    const struct {
        double degrees;
        std::uint8_t b4;
        std::uint8_t b5;
    } cases[] = {
        {2.8, 0x00, 0x28},
        {-12.37, 0x11, 0x23},
        {99.99, 0x09, 0x99},
        {-0.1, 0x10, 0x01},
        {0.0, 0x00, 0x00},
        {-0.0, 0x00, 0x00},
        {-0.04, 0x10, 0x00},
        {12.95, 0x01, 0x29},
        {10.1, 0x01, 0x01},
        {-10.1, 0x11, 0x01},
        {0.3, 0x00, 0x03},
        {4.7, 0x00, 0x47},
        {100, 0x0A, 0x00},
        {123.4, 0x0C, 0x34},
        {159.99, 0x0F, 0x99},
        // Just below 160: truncated, never rounded up into the next degree.
        {159.99999999999, 0x0F, 0x99},
        {160, 0x10, 0x00},
        {-160, 0x20, 0x00},
        {255.9, 0x19, 0x59},
        // A plain 8-bit sum: the tens wrap through the sign nibble and past the byte.
        {2559.9, 0xFF, 0x99},
        {-2559.9, 0x0F, 0x99},
        {2569.5, 0x00, 0x95},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.degrees);
        const auto bytes = EncodeDeclination(c.degrees);
        EXPECT_EQ(bytes[0], c.b4);
        EXPECT_EQ(bytes[1], c.b5);
    }
}

TEST(EncodeDeclination, AnyDoubleEncodesWithoutOverflow) {
    // Run under the sanitizers: none of these may convert an out-of-range double to an integer.
    const struct {
        double degrees;
        std::uint8_t b4;
        std::uint8_t b5;
    } cases[] = {
        {std::numeric_limits<double>::infinity(), 0x00, 0x00},
        {-std::numeric_limits<double>::infinity(), 0x00, 0x00},
        {std::numeric_limits<double>::quiet_NaN(), 0x00, 0x00},
        {-std::numeric_limits<double>::quiet_NaN(), 0x00, 0x00},
        // Whole degrees that are multiples of 2560 leave only the sign.
        {1e300, 0x00, 0x00},
        {-1e300, 0x10, 0x00},
        // The largest double's whole degrees end in ...124858368: 2048 modulo 2560.
        {std::numeric_limits<double>::max(), 0xCC, 0x80},
        {-std::numeric_limits<double>::max(), 0xDC, 0x80},
        {1e15 + 3, 0x00, 0x30},
        {std::numeric_limits<double>::denorm_min(), 0x00, 0x00},
        {-std::numeric_limits<double>::denorm_min(), 0x10, 0x00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.degrees);
        const auto bytes = EncodeDeclination(c.degrees);
        EXPECT_EQ(bytes[0], c.b4);
        EXPECT_EQ(bytes[1], c.b5);
    }
}

TEST(DeclinationInRange, FiniteAndBelow160InMagnitude) {
    const struct {
        double degrees;
        bool inRange;
    } cases[] = {
        {0.0, true},
        {-0.1, true},
        {159.9, true},
        {159.99, true},
        {-159.99, true},
        {159.99999999999, true},
        {160.0, false},
        {-160.0, false},
        {1e308, false},
        {std::numeric_limits<double>::infinity(), false},
        {-std::numeric_limits<double>::infinity(), false},
        {std::numeric_limits<double>::quiet_NaN(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.degrees);
        EXPECT_EQ(DeclinationInRange(c.degrees), c.inRange);
    }
}

}  // namespace
