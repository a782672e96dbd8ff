#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "CommandTable.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Bytes RowBytes(const CommandFrame& frame) {
    return Bytes(frame.bytes.begin(), frame.bytes.begin() + static_cast<long>(frame.size()));
}

// Every row once, with the address and parameters stamped in and the checksum recomputed.
TEST(CommandTable, StampKnownAnswers) {
    const struct {
        const char* what;
        CommandRow row;
        FrameParameters params;
        Bytes expected;
    } cases[] = {
        {"read 0", CMD_READ, {.address = 0}, {0x68, 0x04, 0x00, 0x04, 0x08}},
        {"read 255 wraps the sum", CMD_READ, {.address = 255}, {0x68, 0x04, 0xFF, 0x04, 0x07}},
        {"read 300 sends 2C", CMD_READ, {.address = 300}, {0x68, 0x04, 0x2C, 0x04, 0x34}},
        {"address 5 to 1",
         CMD_SET_ADDRESS,
         {.address = 1, .newAddress = 5},
         {0x68, 0x05, 0x01, 0x0F, 0x05, 0x1A}},
        {"address 0x1FF sends FF",
         CMD_SET_ADDRESS,
         {.address = 1, .newAddress = 0x1FF},
         {0x68, 0x05, 0x01, 0x0F, 0xFF, 0x14}},
        {"baud index 2",
         CMD_SET_BAUD,
         {.address = 1, .baudIndex = 2},
         {0x68, 0x05, 0x01, 0x0B, 0x02, 0x13}},
        {"baud, no selection",
         CMD_SET_BAUD,
         {.address = 1, .baudIndex = -1},
         {0x68, 0x05, 0x01, 0x0B, 0xFF, 0x10}},
        {"zero", CMD_SET_ZERO, {.address = 0x10}, {0x68, 0x05, 0x10, 0x05, 0x01, 0x1B}},
        {"cancel zero", CMD_CANCEL_ZERO, {}, {0x68, 0x05, 0x00, 0x05, 0x00, 0x0A}},
        {"auto output", CMD_AUTO_OUTPUT, {.address = 2}, {0x68, 0x05, 0x02, 0x0C, 0x01, 0x14}},
        {"answer mode", CMD_ANSWER_MODE, {}, {0x68, 0x05, 0x00, 0x0C, 0x00, 0x11}},
        {"horizontal", CMD_MOUNT_HORIZONTAL, {}, {0x68, 0x05, 0x00, 0x2A, 0x00, 0x2F}},
        {"vertical", CMD_MOUNT_VERTICAL, {.address = 1}, {0x68, 0x05, 0x01, 0x2A, 0x01, 0x31}},
        {"cal start", CMD_CAL_START, {.address = 7}, {0x68, 0x04, 0x07, 0x08, 0x13}},
        {"cal stop", CMD_CAL_STOP, {}, {0x68, 0x04, 0x00, 0x09, 0x0D}},
        {"M-mode", CMD_CAL_M_MODE, {}, {0x68, 0x04, 0x00, 0x43, 0x47}},
        {"cal save", CMD_CAL_SAVE, {}, {0x68, 0x04, 0x00, 0x0A, 0x0E}},
        {"manual", CMD_CAL_MANUAL, {}, {0x68, 0x04, 0x00, 0x45, 0x49}},
        {"A-mode checksum 48", CMD_CAL_A_MODE, {}, {0x68, 0x04, 0x00, 0x44, 0x48}},
        {"declination -12.37 ignores address 3",
         CMD_SET_DECLINATION,
         {.address = 3, .declination = -12.37},
         {0x68, 0x06, 0x00, 0x06, 0x11, 0x23, 0x40}},
        {"declination -0.1 ignores address 3",
         CMD_SET_DECLINATION,
         {.address = 3, .declination = -0.1},
         {0x68, 0x06, 0x00, 0x06, 0x10, 0x01, 0x1D}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RowBytes(stampCommand(c.row, c.params)), c.expected);
    }
}

// Every stamp starts from the row's template: what an earlier stamp of any row wrote (another
// address, another payload) never shows in a later one.
TEST(CommandTable, StampingIsIndependentOfEarlierStamps) {
    std::vector<Bytes> fresh;
    for (int row = 0; row < kCommandRowCount; ++row)
        fresh.push_back(RowBytes(stampCommand(CommandRow(row), {})));
    for (int row = 0; row < kCommandRowCount; ++row)
        stampCommand(CommandRow(row),
                     {.address = 0xA5, .newAddress = 9, .baudIndex = 4, .declination = -99.9});
    for (int row = 0; row < kCommandRowCount; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(RowBytes(stampCommand(CommandRow(row), {})), fresh[std::size_t(row)]);
        // With the default parameters every template is already a well-formed frame.
        const CommandFrame& templ = kCommandTemplates[std::size_t(row)];
        EXPECT_EQ(templ.bytes[templ.size() - 1], FrameChecksum(templ.bytes.data()));
    }
    EXPECT_EQ(RowBytes(stampCommand(CMD_SET_BAUD, {.address = 1, .baudIndex = 0})),
              (Bytes{0x68, 0x05, 0x01, 0x0B, 0x00, 0x11}));
}

TEST(HexText, FormatsLowerCaseAndReadsBackEveryByte) {
    const Bytes high = {0xAB, 0xFF, 0x00, 0xC0};
    EXPECT_EQ(FrameToHexText(high.data(), high.size()), "ab ff 00 c0 ");
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    Bytes out;
    EXPECT_EQ(HexTextToBytes(FrameToHexText(all.data(), all.size()), out), all.size());
    EXPECT_EQ(out, all);
    // Exactly 0-9, A-F and a-f are digits.
    int digits = 0;
    for (int i = 0; i < 256; ++i) {
        digits += HexDigitValue(static_cast<char>(i)) != 0xFF ? 1 : 0;
    }
    EXPECT_EQ(digits, 22);
}

TEST(HexText, ParsesPairsAndStopsWhereTheRulesSay) {
    const struct {
        std::string text;
        Bytes expected;
    } cases[] = {
        {"68 04 01 04 09 ", {0x68, 0x04, 0x01, 0x04, 0x09}},
        {"12 3", {0x12}},  // lone trailing digit ignored
        {"1 2", {}},       // a blank inside a pair ends the parse
        {"12 G1 34", {0x12}},
        {"", {}},
        {"AB cd eF", {0xAB, 0xCD, 0xEF}},
        {"  12   34  ", {0x12, 0x34}},
        {"12\t34", {0x12}},
        {"12 \xB1\xB2 34", {0x12}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Bytes out(7, 0xEE);  // whatever the array held before is replaced
        EXPECT_EQ(HexTextToBytes(c.text, out), c.expected.size());
        EXPECT_EQ(out, c.expected);
    }
}

TEST(Declination, EncodesTruncatedDigitsAndAnyDoubleSafely) {
    const struct {
        double degrees;
        std::uint8_t b4, b5;
    } cases[] = {
        {2.8, 0x00, 0x28},
        {-12.37, 0x11, 0x23},
        {-0.1, 0x10, 0x01},
        {0.0, 0x00, 0x00},
        {-0.0, 0x00, 0x00},
        {-0.04, 0x10, 0x00},
        {12.95, 0x01, 0x29},
        {10.1, 0x01, 0x01},
        {100, 0x0A, 0x00},
        {123.4, 0x0C, 0x34},
        {159.99999999999, 0x0F, 0x99},  // truncated, never rounded into the next degree
        {160, 0x10, 0x00},              // the tens reach into the sign nibble
        {-160, 0x20, 0x00},
        {2559.9, 0xFF, 0x99},
        {2569.5, 0x00, 0x95},
        // Never converted to an integer that could overflow (the sanitizers would object).
        {1e300, 0x00, 0x00},
        {-1e300, 0x10, 0x00},
        {std::numeric_limits<double>::max(), 0xCC, 0x80},
        {kInf, 0x00, 0x00},
        {-kInf, 0x00, 0x00},
        {kNaN, 0x00, 0x00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.degrees);
        const auto bytes = EncodeDeclination(c.degrees);
        EXPECT_EQ(bytes[0], c.b4);
        EXPECT_EQ(bytes[1], c.b5);
    }
    const struct {
        double degrees;
        bool inRange;
    } ranges[] = {{0.0, true},     {-159.99, true}, {159.99999999999, true}, {160.0, false},
                  {-160.0, false}, {kInf, false},   {-kInf, false},          {kNaN, false}};
    for (const auto& r : ranges) {
        EXPECT_EQ(DeclinationInRange(r.degrees), r.inRange) << r.degrees;
    }
}

}  // namespace
