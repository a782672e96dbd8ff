#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Frame.h"

// Answer codes: the code of the request answered, with the top bit set.
enum AnswerCode : std::uint8_t {
    ANS_READ = 0x84,         // a reading: CMD_READ, and every frame of automatic output
    ANS_ZERO = 0x85,         // CMD_SET_ZERO and CMD_CANCEL_ZERO
    ANS_CAL_SAMPLES = 0x88,  // the calibration's sample count (start, modes, manual samples)
    ANS_CAL_STOP = 0x89,     // CMD_CAL_STOP, with the X, Y and Z coverage
    ANS_CAL_SAVE = 0x8A,     // CMD_CAL_SAVE
    ANS_SET_BAUD = 0x8B,     // CMD_SET_BAUD
    ANS_SET_ADDRESS = 0x8F,  // CMD_SET_ADDRESS
};
// Byte 4 of an answer: 00 is success for the zero, speed and address answers; FF is an error
// for the three calibration answers.
constexpr std::uint8_t kAnswerSuccess = 0x00;
constexpr std::uint8_t kCalibrationError = 0xFF;

// A reading frame as the module sends it: L = 13, so 14 bytes.
constexpr std::size_t kReadingFrameSize = 14;

// The three values of a reading frame, in degrees.
struct Reading {
    double pitch = 0.0;
    double roll = 0.0;
    double heading = 0.0;
};
// Why a reading frame (code ANS_READ, checksum good) holds no reading.
enum class ReadingFault {
    None,
    TooShort,    // fewer than kReadingFrameSize bytes: the three values do not fit
    NotDecimal,  // a digit nibble above 9 (the sign nibble may hold anything)
};
ReadingFault CheckReadingFrame(const std::uint8_t* frame, std::size_t size);

// The reading of a reading frame `size` bytes long: pitch from bytes 4 to 6, roll from 7 to 9,
// heading from 10 to 12, each in packed BCD. Nothing when CheckReadingFrame finds a fault: the
// assembler's positions past a short frame hold bytes of earlier frames, and digits above 9
// are no value the module meant.
std::optional<Reading> ReadingOfFrame(const std::uint8_t* frame, std::size_t size);

// Incremental assembler of response frames: bytes in, an outcome per byte out.
enum class FeedOutcome { Stored, Rejected, Complete };
constexpr int kAssemblerCapacity = 50;

// Two states: waiting for a start byte, and inside a frame. A start byte moves it inside; a
// complete frame or a rejected byte moves it back. Nothing else does: a partial frame left when
// the module stops talking is completed by the first bytes after the gap.
class ResponseAssembler {
public:
    // Takes one byte. On Rejected and Complete the assembler is back to waiting for a start byte.
    FeedOutcome feed(std::uint8_t byte);

    // The frame being (or last) assembled: 50 bytes, never cleared, so positions past the
    // current frame keep bytes of earlier frames.
    const std::uint8_t* frame() const { return m_frame.data(); }
    // The size the last accepted length byte gives (L + 1): that of the frame just completed;
    // 0 before any.
    std::size_t frameSize() const { return m_length < 4 ? 0 : m_length + 1u; }

    // Whether the completed frame's checksum (byte L) matches the sum of bytes 1 to L-1.
    bool checksumHolds() const;

    // Whether a frame has begun and is not complete yet.
    bool inFrame() const { return m_index != 0; }
    // Gives up a frame begun, as a rejected byte would; the buffer keeps its bytes.
    void reset() { m_index = 0; }

private:
    std::array<std::uint8_t, kAssemblerCapacity> m_frame{};  // g_rxFrame
    int m_index = 0;                                         // g_nRxIndex
    std::uint8_t m_length = 0;                               // g_nRxLength
};

// Packed BCD: sign nibble and hundreds, tens and units, tenths and hundredths.
double DecodeBcdReading(std::uint8_t a, std::uint8_t b, std::uint8_t c);
