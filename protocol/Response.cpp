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
    if (g_nRxIndex == 0 && byte != 0x68) {
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
    const unsigned length = g_nRxLength;
    if (length < 4) {
        return false;  // no frame completed yet
    }
    std::uint8_t sum = 0;
    for (unsigned i = 1; i < length; ++i) {
        sum = static_cast<std::uint8_t>(sum + g_rxFrame[i]);
    }
    return sum == g_rxFrame[length];
}

double DecodeBcdReading(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    const double fraction = 0.01 * (c & 0x0F) + 0.1 * (c >> 4);
    const int whole = 100 * (a & 0x0F) + 10 * (b >> 4) + (b & 0x0F);
    const double value = fraction + whole;
    // Any non-zero sign nibble counts as negative.
    return (a >> 4) != 0 ? -value : value;
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
