#include "Response.h"

namespace {

// One assembler for the whole program, so a frame may arrive over any number of reads.
std::uint8_t g_rxFrame[kAssemblerCapacity] = {};
int g_nRxIndex = 0;
std::uint8_t g_nRxLength = 0;

int g_nFrameCount = 0;

}  // namespace

FeedOutcome FeedByte(std::uint8_t byte) {
    // Stored before any test: a rejected length byte still overwrites position 1.
    g_rxFrame[g_nRxIndex] = byte;
    if (g_nRxIndex == 0 && byte != kFrameStart) {
        return FeedOutcome::Rejected;
    }
    if (g_nRxIndex == 1) {
        if (byte <= 3 || byte >= kAssemblerCapacity) {
            g_nRxIndex = 0;
            return FeedOutcome::Rejected;
        }
        g_nRxLength = byte;
    }
    ++g_nRxIndex;
    // The second test matters only before the first length byte, while g_nRxLength is 0.
    if (g_nRxIndex == g_nRxLength + 1 && g_nRxIndex >= 5) {
        g_nRxIndex = 0;
        return FeedOutcome::Complete;
    }
    return FeedOutcome::Stored;
}

const std::uint8_t* AssembledFrame() {
    return g_rxFrame;
}

bool AssembledFrameChecksumHolds() {
    if (g_nRxLength < 4) {
        return false;  // no frame completed yet
    }
    // The length the frame completed with: a rejected length byte since may have overwritten
    // byte 1.
    return FrameChecksum(g_rxFrame, g_nRxLength) == g_rxFrame[g_nRxLength];
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

void CountCompletedFrame() {
    ++g_nFrameCount;
}

int FrameCount() {
    return g_nFrameCount;
}

void ResetFrameCount() {
    g_nFrameCount = 0;
}
