#include "Response.h"

FeedOutcome ResponseAssembler::feed(std::uint8_t byte) {
    // Stored before any test: a rejected length byte still overwrites position 1.
    m_frame[static_cast<std::size_t>(m_index)] = byte;
    if (m_index == 0 && byte != kFrameStart) {
        return FeedOutcome::Rejected;
    }
    if (m_index == 1) {
        if (byte <= 3 || byte >= kAssemblerCapacity) {
            m_index = 0;
            return FeedOutcome::Rejected;
        }
        m_length = byte;
    }
    ++m_index;
    // The second test matters only before the first length byte, while m_length is 0.
    if (m_index == m_length + 1 && m_index >= 5) {
        m_index = 0;
        return FeedOutcome::Complete;
    }
    return FeedOutcome::Stored;
}

bool ResponseAssembler::checksumHolds() const {
    if (m_length < 4) {
        return false;  // no frame completed yet
    }
    // The length the frame completed with: a rejected length byte since may have overwritten
    // byte 1.
    return FrameChecksum(m_frame.data(), m_length) == m_frame[m_length];
}

double DecodeBcdReading(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    const double fraction = 0.01 * (c & 0x0F) + 0.1 * (c >> 4);
    const int whole = 100 * (a & 0x0F) + 10 * (b >> 4) + (b & 0x0F);
    const double value = fraction + whole;
    // Any non-zero sign nibble counts as negative.
    return (a >> 4) != 0 ? -value : value;
}

ReadingFault CheckReadingFrame(const std::uint8_t* frame, std::size_t size) {
    if (size < kReadingFrameSize)
        return ReadingFault::TooShort;
    for (std::size_t i = 4; i <= 12; ++i) {
        // The high nibble of each value's first byte is its sign, not a digit.
        const bool signByte = (i - 4) % 3 == 0;
        if ((!signByte && (frame[i] >> 4) > 9) || (frame[i] & 0x0F) > 9)
            return ReadingFault::NotDecimal;
    }
    return ReadingFault::None;
}

std::optional<Reading> ReadingOfFrame(const std::uint8_t* frame, std::size_t size) {
    if (CheckReadingFrame(frame, size) != ReadingFault::None)
        return std::nullopt;
    return Reading{DecodeBcdReading(frame[4], frame[5], frame[6]),
                   DecodeBcdReading(frame[7], frame[8], frame[9]),
                   DecodeBcdReading(frame[10], frame[11], frame[12])};
}
