#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

// Frames as the module sends them: 68, L, address, code, payload, checksum at position L
// (the 8-bit sum of bytes 1 to L-1). Kept apart from the console's own framing code so that a
// mistake there is not repeated here.
inline std::vector<std::uint8_t> ModuleFrame(std::uint8_t code,
                                             const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> frame = {0x68, static_cast<std::uint8_t>(4 + payload.size()), 0x00,
                                       code};
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < frame.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    frame.push_back(sum);
    return frame;
}

inline std::vector<std::uint8_t> Joined(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}
