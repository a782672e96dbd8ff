#include "Wire.h"

#include <cmath>
#include <cstdlib>

namespace modulesim {

std::uint8_t Checksum(const Bytes& frame) {
    std::uint8_t sum = 0;
    const std::size_t length = frame.size() > 1 ? frame[1] : 0;
    for (std::size_t i = 1; i < length && i < frame.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    }
    return sum;
}

Bytes BuildFrame(std::uint8_t address, std::uint8_t command, const Bytes& payload) {
    Bytes frame;
    frame.reserve(payload.size() + 5);
    for (std::uint8_t b :
         {kStartByte, static_cast<std::uint8_t>(kMinLength + payload.size()), address, command})
        frame.push_back(b);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(0);
    frame.back() = Checksum(frame);
    return frame;
}

std::array<std::uint8_t, 3> EncodeAngle(double degrees) {
    long long hundredths = std::llround(degrees * 100.0);
    const bool negative = hundredths < 0;
    hundredths = std::llabs(hundredths);
    if (hundredths > 99999)
        hundredths = 99999;
    auto digit = [&](int position) {
        long long value = hundredths;
        for (int i = 0; i < position; ++i)
            value /= 10;
        return static_cast<std::uint8_t>(value % 10);
    };
    return {static_cast<std::uint8_t>((negative ? 0x10 : 0x00) | digit(4)),
            static_cast<std::uint8_t>(digit(3) << 4 | digit(2)),
            static_cast<std::uint8_t>(digit(1) << 4 | digit(0))};
}

double DecodeDeclination(std::uint8_t high, std::uint8_t low) {
    const double magnitude = (high & 0x0F) * 10.0 + (low >> 4) + (low & 0x0F) / 10.0;
    return (high >> 4) != 0 ? -magnitude : magnitude;
}

std::optional<Bytes> RequestAssembler::Feed(std::uint8_t byte) {
    if (m_frame.empty()) {
        if (byte == kStartByte) {
            m_frame.push_back(byte);
        } else {
            ++m_rejected;
        }
        return std::nullopt;
    }
    if (m_frame.size() == 1 && (byte < kMinLength || byte > kMaxLength)) {
        ++m_rejected;
        m_frame.clear();
        // The rejected length byte may itself open the next frame.
        if (byte == kStartByte)
            m_frame.push_back(byte);
        return std::nullopt;
    }
    m_frame.push_back(byte);
    if (m_frame.size() < static_cast<std::size_t>(m_frame[1]) + 1)
        return std::nullopt;

    Bytes frame;
    frame.swap(m_frame);
    if (Checksum(frame) != frame.back()) {
        ++m_rejected;
        return std::nullopt;
    }
    return frame;
}

}  // namespace modulesim
