#include "Frame.h"

std::uint8_t FrameChecksum(const std::uint8_t* frame, unsigned length) {
    std::uint8_t sum = 0;
    for (unsigned i = 1; i < length; ++i) {
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    }
    return sum;
}
