#pragma once

#include <cstdint>

// Incremental assembler of response frames: bytes in, an outcome per byte out.
enum class FeedOutcome { Stored, Rejected, Complete };

// Feeds one byte to the program's one assembler. On Rejected and Complete the assembler is
// back to waiting for a start byte.
FeedOutcome FeedByte(std::uint8_t byte);

// The frame being (or last) assembled: 50 bytes, never cleared, so positions past the current
// frame keep bytes of earlier frames.
const std::uint8_t* AssembledFrame();
constexpr int kAssemblerCapacity = 50;

// Whether the completed frame's checksum (byte L) matches the sum of bytes 1 to L-1.
bool AssembledFrameChecksumHolds();

// Packed BCD: sign nibble and hundreds, tens and units, tenths and hundredths.
double DecodeBcdReading(std::uint8_t a, std::uint8_t b, std::uint8_t c);

// Complete frames since the rate display last took the count.
void CountCompletedFrame();
int FrameCount();
void ResetFrameCount();
