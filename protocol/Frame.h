#pragma once

#include <cstdint>

// The frame layout that requests and answers share: the start byte, the length L, the module
// address, the command code, the payload, and at position L the checksum; the frame is L+1
// bytes long.
constexpr std::uint8_t kFrameStart = 0x68;

// The sum of bytes 1 to L-1 modulo 256 for a frame of length L: what belongs at byte L. Without
// `length`, L is the frame's byte 1.
std::uint8_t FrameChecksum(const std::uint8_t* frame, unsigned length);
inline std::uint8_t FrameChecksum(const std::uint8_t* frame) {
    return FrameChecksum(frame, frame[1]);
}
