#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Frame.h"

// Rows of the process-wide command table, in table order.
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
    std::size_t size() const { return static_cast<std::size_t>(bytes[1]) + 1; }
};

// What the send path writes into a row besides the checksum.
struct FrameParameters {
    std::uint32_t address = 0;     // low 8 bits go into byte 2 (not for CMD_SET_DECLINATION)
    std::uint32_t newAddress = 0;  // CMD_SET_ADDRESS payload, low 8 bits
    int baudIndex = 2;             // CMD_SET_BAUD payload; -1 (no selection) goes out as FF
    double declination = -0.1;     // CMD_SET_DECLINATION payload, through EncodeDeclination
};

// The row as it stands now: its template, or the bytes of its last send.
const CommandFrame& CommandTableRow(CommandRow row);

// Stamps address, parameters and checksum into the row, in place, and returns the row.
const CommandFrame& StampCommandRow(CommandRow row, const FrameParameters& parameters);

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
