#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The module's side of the byte protocol: frame building, checksums, packed-BCD angles and an
// assembler for incoming requests. Written independently of the console's own protocol code so
// that a mistake there cannot hide behind the same mistake here.
namespace modulesim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kStartByte = 0x68;
inline constexpr std::uint8_t kAnswerBit = 0x80;
inline constexpr std::size_t kMinLength = 4;   // L of a frame without payload
inline constexpr std::size_t kMaxLength = 49;  // longest L a receiver accepts

// Sum of bytes 1..L-1 modulo 256 (the start byte is not summed).
std::uint8_t Checksum(const Bytes& frame);

// 68 L address command payload... checksum, with L = 4 + payload size.
Bytes BuildFrame(std::uint8_t address, std::uint8_t command, const Bytes& payload = {});

// Three bytes: sign nibble (1 = negative) and hundreds, tens and units, tenths and hundredths.
// The value is rounded to hundredths; magnitudes beyond 999.99 are clamped.
std::array<std::uint8_t, 3> EncodeAngle(double degrees);

// The two declination bytes: sign nibble and tens, units and tenths.
double DecodeDeclination(std::uint8_t high, std::uint8_t low);

// Bytes in, whole requests out. A byte other than the start byte outside a frame, a length outside
// 4..49 or a wrong checksum drops what was gathered; the next start byte begins a new frame.
class RequestAssembler {
public:
    // Returns the complete frame when `byte` ends one whose checksum holds.
    std::optional<Bytes> Feed(std::uint8_t byte);
    std::size_t Rejected() const { return m_rejected; }

private:
    Bytes m_frame;
    std::size_t m_rejected = 0;
};

}  // namespace modulesim
