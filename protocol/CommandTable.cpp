#include "CommandTable.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace {

constexpr char kLowerHexDigits[] = "0123456789abcdef";

}  // namespace

CommandFrame stampCommand(CommandRow row, const FrameParameters& parameters) {
    CommandFrame frame = kCommandTemplates.at(row);
    // The declination request always goes out to address 00.
    if (row != CMD_SET_DECLINATION) {
        frame.bytes[2] = static_cast<std::uint8_t>(parameters.address & 0xFFu);
    }
    switch (row) {
        case CMD_SET_ADDRESS:
            frame.bytes[4] = static_cast<std::uint8_t>(parameters.newAddress & 0xFFu);
            break;
        case CMD_SET_BAUD:
            // No selection (-1) truncates to FF.
            frame.bytes[4] = static_cast<std::uint8_t>(static_cast<unsigned>(parameters.baudIndex));
            break;
        case CMD_AUTO_OUTPUT:
            frame.bytes[4] = 0x01;
            break;
        case CMD_SET_DECLINATION: {
            const auto encoded = EncodeDeclination(parameters.declination);
            frame.bytes[4] = encoded[0];
            frame.bytes[5] = encoded[1];
            break;
        }
        default:
            break;
    }
    frame.bytes[frame.bytes[1]] = FrameChecksum(frame.bytes.data());
    return frame;
}

std::string FrameToHexText(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(kLowerHexDigits[bytes[i] >> 4]);
        text.push_back(kLowerHexDigits[bytes[i] & 0x0F]);
        text.push_back(' ');
    }
    return text;
}

std::size_t HexTextToBytes(const std::string& text, std::vector<std::uint8_t>& out) {
    out.resize(text.size() / 2);
    std::size_t n = 0;
    std::size_t j = 0;
    while (j < text.size()) {
        if (text[j] == ' ') {
            ++j;
            continue;
        }
        // A lone trailing character is ignored.
        if (j + 1 == text.size()) {
            break;
        }
        const std::uint8_t high = HexDigitValue(text[j]);
        const std::uint8_t low = HexDigitValue(text[j + 1]);
        if (high == 0xFF || low == 0xFF) {
            break;
        }
        out[n++] = static_cast<std::uint8_t>(high * 16 + low);
        j += 2;
    }
    out.resize(n);
    return n;
}

std::uint8_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return 0xFF;
}

std::array<std::uint8_t, 2> EncodeDeclination(double degrees) {
    // Infinity and NaN have no digits to send: they encode as 00 00.
    if (!std::isfinite(degrees)) {
        return {0x00, 0x00};
    }
    const unsigned sign = degrees < 0 ? 1u : 0u;
    const double magnitude = std::fabs(degrees);  // -0.0 counts as 0, without a sign

    // Take the digits from the shortest fixed-point text that reads back as the same double
    // (its whole part is exact), so a value typed as 10.1 keeps its tenth although the double
    // is 10.0999..., and nothing rounds up into the next whole degree (159.99999 stays 159).
    // Only the whole degrees modulo 2560 matter for the two bytes, so any magnitude is reduced
    // digit by digit, never converted to an integer type that it could overflow.
    char text[400];
    const auto result =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::fixed);
    if (result.ec != std::errc()) {
        return {0x00, 0x00};
    }
    unsigned wholeMod = 0;
    unsigned tenths = 0;
    const char* p = text;
    for (; p != result.ptr && *p != '.'; ++p) {
        wholeMod = (wholeMod * 10 + static_cast<unsigned>(*p - '0')) % 2560;
    }
    if (p != result.ptr && p + 1 != result.ptr) {
        tenths = static_cast<unsigned>(p[1] - '0');
    }
    // A plain 8-bit sum: from 160 degrees up the tens reach into the sign nibble.
    const auto high = static_cast<std::uint8_t>((sign * 16 + wholeMod / 10) & 0xFFu);
    const auto low = static_cast<std::uint8_t>((wholeMod % 10) * 16 + tenths);
    return {high, low};
}

bool DeclinationInRange(double degrees) {
    return std::isfinite(degrees) && std::fabs(degrees) < 160.0;
}
