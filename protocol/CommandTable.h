#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Frame.h"

// Rows of the command table, in table order.
enum CommandRow : int {
    CMD_READ = 0,
    CMD_SET_ADDRESS,
    CMD_SET_BAUD,
    CMD_SET_ZERO,
    CMD_CANCEL_ZERO,
    CMD_AUTO_OUTPUT,
    CMD_ANSWER_MODE,
    CMD_MOUNT_HORIZONTAL,
    CMD_MOUNT_VERTICAL,
    CMD_CAL_START,
    CMD_CAL_STOP,
    CMD_CAL_M_MODE,
    CMD_CAL_SAVE,
    CMD_CAL_MANUAL,
    CMD_SET_DECLINATION,
    CMD_CAL_A_MODE,
    kCommandRowCount
};

// One request frame template: byte 1 is L, the frame is L+1 bytes long.
struct CommandFrame {
    std::array<std::uint8_t, 7> bytes{};
    constexpr std::size_t size() const { return static_cast<std::size_t>(bytes[1]) + 1; }
};

// What the send path writes into a row besides the checksum.
struct FrameParameters {
    std::uint32_t address = 0;     // low 8 bits go into byte 2 (not for CMD_SET_DECLINATION)
    std::uint32_t newAddress = 0;  // CMD_SET_ADDRESS payload, low 8 bits
    int baudIndex = 2;             // CMD_SET_BAUD payload; -1 (no selection) goes out as FF
    double declination = -0.1;     // CMD_SET_DECLINATION payload, through EncodeDeclination
};

// The sixteen request templates, in row order. Every send stamps address, parameters and
// checksum afresh, so nothing of an earlier send carries over into the next.
inline constexpr std::array<CommandFrame, kCommandRowCount> kCommandTemplates = {{
    {{0x68, 0x04, 0x00, 0x04, 0x08}},              // CMD_READ
    {{0x68, 0x05, 0x00, 0x0F, 0x01, 0x15}},        // CMD_SET_ADDRESS
    {{0x68, 0x05, 0x00, 0x0B, 0x02, 0x12}},        // CMD_SET_BAUD
    {{0x68, 0x05, 0x00, 0x05, 0x01, 0x0B}},        // CMD_SET_ZERO
    {{0x68, 0x05, 0x00, 0x05, 0x00, 0x0A}},        // CMD_CANCEL_ZERO
    {{0x68, 0x05, 0x00, 0x0C, 0x01, 0x12}},        // CMD_AUTO_OUTPUT
    {{0x68, 0x05, 0x00, 0x0C, 0x00, 0x11}},        // CMD_ANSWER_MODE
    {{0x68, 0x05, 0x00, 0x2A, 0x00, 0x2F}},        // CMD_MOUNT_HORIZONTAL
    {{0x68, 0x05, 0x00, 0x2A, 0x01, 0x30}},        // CMD_MOUNT_VERTICAL
    {{0x68, 0x04, 0x00, 0x08, 0x0C}},              // CMD_CAL_START
    {{0x68, 0x04, 0x00, 0x09, 0x0D}},              // CMD_CAL_STOP
    {{0x68, 0x04, 0x00, 0x43, 0x47}},              // CMD_CAL_M_MODE
    {{0x68, 0x04, 0x00, 0x0A, 0x0E}},              // CMD_CAL_SAVE
    {{0x68, 0x04, 0x00, 0x45, 0x49}},              // CMD_CAL_MANUAL
    {{0x68, 0x06, 0x00, 0x06, 0x02, 0x08, 0x16}},  // CMD_SET_DECLINATION
    {{0x68, 0x04, 0x00, 0x44, 0x48}},              // CMD_CAL_A_MODE
}};

// The row's template with address, parameters and checksum stamped in.
CommandFrame stampCommand(CommandRow row, const FrameParameters& parameters);

// "%02x " per byte.
std::string FrameToHexText(const std::uint8_t* bytes, std::size_t count);

// Pairs of hex digits separated by blanks; see the implementation for the exact rules.
std::size_t HexTextToBytes(const std::string& text, std::vector<std::uint8_t>& out);

// 0..15 for a hex digit, 0xFF otherwise.
std::uint8_t HexDigitValue(char c);

// Two payload bytes: sign nibble and tens digit, then units and tenths digits (truncated).
std::array<std::uint8_t, 2> EncodeDeclination(double degrees);

// Whether a declination fits the two bytes without reaching into the sign nibble.
bool DeclinationInRange(double degrees);
